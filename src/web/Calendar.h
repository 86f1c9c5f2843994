#pragma once

#include "WebSettings.h"
#include "config/ClosedDays.h"
#include "db/Capacities.h"
#include "db/WebBooking.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace qrb {
class Database;
}

namespace qrb::web {

// Whether the clinic takes bookings on a day at all: a closed day (a national holiday, one of the
// clinic's own closures) and a weekday whose slots offer no places are not. Every list of days the
// patient sees asks here, so a closed day is refused alike everywhere.
bool dayOffered(const CapacityTable &capacities, const ClosedDays &closed, QDate day);

// ○ many places left, △ few, × full, － not bookable (closed, or every slot past or too soon).
QString dayMark(int left, int places);

struct SlotInfo {
    QDate date;
    QString hour;          // "08" … "17"
    int places = 0;        // offered online: the slot's share
    int taken = 0;         // every reservation, the desk's too
    bool open = false;     // the day is offered and the slot offers places and starts after the cut-off
    bool late = false;     // the slot offers places on an offered day, but starts before the cut-off
    bool bookable = false; // open, with places left
    int left() const { return places - taken; }
};

struct DayInfo {
    QDate date;
    int places = 0; // of the slots still open to booking
    int left = 0;
    QString mark;
    QString why; // why the day offers nothing (dayClosedBecause); empty while a place is left
};

// What stays the same from one page to the next: the capacities, until the history says they changed
// (on the settings screen of any desk, or by a restore), and which days the clinic is open. One per
// database connection; a page only asks whether the places moved.
class CalendarCache final
{
public:
    explicit CalendarCache(const ClosedDays &closed);

    // The capacities as they stand now: read again when their history moved since the last look.
    const CapacityTable &capacities(Database &db);
    // dayOffered for the capacities last read.
    bool offered(QDate day);

private:
    ClosedDays m_closed;
    std::optional<CapacitiesVersion> m_version;
    CapacityTable m_capacities;
    QHash<QDate, bool> m_offered;
};

// What the patient may book at one moment: the capacities and the counts of the days the page asks
// about, counted as the desk counts them.
class Calendar final
{
public:
    Calendar(Database &db, CalendarCache &cache, const WebSettings &settings, const QDateTime &now);

    // The offered days, today first.
    QList<DayInfo> days() const;
    // The ten slots of a day.
    QList<SlotInfo> slotsOf(QDate day) const;
    bool inWindow(QDate day) const;
    // A slot a patient may book as the first (or only) dose now.
    bool bookable(QDate day, const QString &hour) const;
    // Slots the second dose of a pair may take: with places left, on a day after the first dose and
    // at most SecondDoseReachDays later.
    QList<SlotInfo> secondDoseSlots(QDate firstDose) const;
    bool secondDoseBookable(QDate firstDose, QDate day, const QString &hour) const;
    // Why a slot in reach cannot be booked: "休診日（元日）" on a closed day, "満員" otherwise.
    QString unavailableBecause(QDate day) const;
    // Why a day in reach offers no slot: "休診日（元日）" or the clinic's closure by its name on a closed
    // day; "満員" when slots still open to booking are all taken; "受付終了" when the cut-off has passed
    // them; "受付なし" on a weekday without places. Empty while a slot can be booked.
    QString dayClosedBecause(QDate day) const;
    // Three weeks after the first dose, at the same hour, as the desk proposes it.
    static QDate proposedSecondDose(QDate firstDose) { return firstDose.addDays(21); }
    static constexpr int SecondDoseReachDays = 35;

    QDate today() const { return m_now.date(); }

private:
    SlotInfo slot(QDate day, int index) const;
    // Reads the counts of the days from `from` to `to` unless the page has them already.
    void count(QDate from, QDate to) const;

    Database &m_db;
    CalendarCache &m_cache;
    const CapacityTable &m_capacities;
    WebSettings m_settings;
    QDateTime m_now;
    QDate m_earliestDay; // a slot must start at or after this day and minute of the day
    int m_earliestMinute = 0;
    mutable QDate m_countedFrom; // the days whose counts the page has read, both ends included
    mutable QDate m_countedTo;
    mutable QHash<QString, int> m_counts;
};

} // namespace qrb::web
