#include "Calendar.h"

#include "db/WebBooking.h"
#include "shared/Dates.h"

using namespace Qt::StringLiterals;

namespace qrb::web {

bool dayOffered(const CapacityTable &capacities, const ClosedDays &closed, QDate day)
{
    if (closed.closedReason(day)) {
        return false;
    }
    const int weekday = weekdayNumber(day);
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (capacities.get_value(weekday, slotKey(slot)) > 0) {
            return true;
        }
    }
    return false;
}

QString dayMark(int left, int places)
{
    if (places <= 0) {
        return u"－"_s;
    }
    if (left <= 0) {
        return u"×"_s;
    }
    return left <= qMax(2, places / 5) ? u"△"_s : u"○"_s;
}

CalendarCache::CalendarCache(const ClosedDays &closed)
    : m_closed(closed)
{
}

const CapacityTable &CalendarCache::capacities(Database &db)
{
    const CapacitiesVersion version = capacitiesVersion(db);
    if (version != m_version) {
        // Read after the version: a change saved in between is seen at the next page, never missed.
        m_capacities = loadCapacities(db);
        m_offered.clear();
        m_version = version;
    }
    return m_capacities;
}

bool CalendarCache::offered(QDate day)
{
    auto it = m_offered.constFind(day);
    if (it == m_offered.cend()) {
        it = m_offered.insert(day, dayOffered(m_capacities, m_closed, day));
    }
    return *it;
}

Calendar::Calendar(Database &db, CalendarCache &cache, const WebSettings &settings, const QDateTime &now)
    : m_db(db)
    , m_cache(cache)
    , m_capacities(cache.capacities(db))
    , m_settings(settings)
    , m_now(now)
{
    // Worked out once per page: a page asks about hundreds of slots.
    const QDateTime earliest = now.addSecs(qint64(settings.cutoffHours) * 3600);
    m_earliestDay = earliest.date();
    m_earliestMinute = earliest.time().hour() * 60 + earliest.time().minute() + (earliest.time().second() > 0);
}

void Calendar::count(QDate from, QDate to) const
{
    if (m_countedFrom.isValid() && from >= m_countedFrom && to <= m_countedTo) {
        return;
    }
    // One grouped query for the whole stretch the page shows; a later question outside it widens it.
    if (m_countedFrom.isValid()) {
        from = qMin(from, m_countedFrom);
        to = qMax(to, m_countedTo);
    }
    m_counts = reservationCountsBetween(m_db, from, to);
    m_countedFrom = from;
    m_countedTo = to;
}

SlotInfo Calendar::slot(QDate day, int index) const
{
    SlotInfo s;
    s.date = day;
    s.hour = slotKey(index);
    s.places = onlinePlaces(m_capacities.get_value(weekdayNumber(day), s.hour), m_settings.share);
    count(day, day);
    s.taken = m_counts.value(dateKey(day) + u' ' + s.hour);
    const bool afterCutoff =
        day > m_earliestDay || (day == m_earliestDay && (FirstSlotHour + index) * 60 >= m_earliestMinute);
    const bool offersPlaces = s.places > 0 && m_cache.offered(day);
    s.open = offersPlaces && afterCutoff;
    s.bookable = s.open && s.left() > 0;
    s.late = offersPlaces && !afterCutoff;
    return s;
}

bool Calendar::inWindow(QDate day) const
{
    return day >= today() && day < today().addDays(m_settings.days);
}

QList<SlotInfo> Calendar::slotsOf(QDate day) const
{
    QList<SlotInfo> list;
    for (int i = 0; i < SlotCount; ++i) {
        list << slot(day, i);
    }
    return list;
}

QList<DayInfo> Calendar::days() const
{
    QList<DayInfo> list;
    count(today(), today().addDays(m_settings.days - 1));
    for (int d = 0; d < m_settings.days; ++d) {
        DayInfo info;
        info.date = today().addDays(d);
        for (const SlotInfo &s : slotsOf(info.date)) {
            if (s.open) {
                info.places += s.places;
                info.left += qMax(0, s.left());
            }
        }
        info.mark = dayMark(info.left, info.places);
        if (info.left <= 0) {
            info.why = dayClosedBecause(info.date);
        }
        list << info;
    }
    return list;
}

bool Calendar::bookable(QDate day, const QString &hour) const
{
    const auto index = hour.size() == 2 ? hour.toInt() - FirstSlotHour : -1;
    return inWindow(day) && index >= 0 && index < SlotCount && slotKey(index) == hour && slot(day, index).bookable;
}

QList<SlotInfo> Calendar::secondDoseSlots(QDate firstDose) const
{
    QList<SlotInfo> list;
    count(firstDose.addDays(1), firstDose.addDays(SecondDoseReachDays));
    for (int d = 1; d <= SecondDoseReachDays; ++d) {
        for (const SlotInfo &s : slotsOf(firstDose.addDays(d))) {
            if (s.bookable) {
                list << s;
            }
        }
    }
    return list;
}

bool Calendar::secondDoseBookable(QDate firstDose, QDate day, const QString &hour) const
{
    const auto index = hour.size() == 2 ? hour.toInt() - FirstSlotHour : -1;
    return day > firstDose && day <= firstDose.addDays(SecondDoseReachDays) && index >= 0 && index < SlotCount &&
           slotKey(index) == hour && slot(day, index).bookable;
}

QString Calendar::dayClosedBecause(QDate day) const
{
    if (const auto note = m_settings.closed.closedNote(day)) {
        return *note;
    }
    bool full = false;
    bool late = false;
    for (const SlotInfo &s : slotsOf(day)) {
        if (s.bookable) {
            return {};
        }
        full = full || s.open;
        late = late || s.late;
    }
    return full ? u"満員"_s : late ? u"受付終了"_s : u"受付なし"_s;
}

QString Calendar::unavailableBecause(QDate day) const
{
    // Three weeks on is the same weekday and hour as a first dose that offers places, so a slot the
    // patient is told about is either on a closed day or taken.
    return m_settings.closed.closedNote(day).value_or(u"満員"_s);
}

} // namespace qrb::web
