#pragma once

#include "WebSettings.h"
#include "config/ClosedDays.h"
#include "db/Capacities.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

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
    QString hour; // "08" … "17"
    int places = 0; // offered online: the slot's share
    int taken = 0;  // every reservation, the desk's too
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

// What the patient may book at one moment: the capacities and the counts of the days in reach, read
// once per page, counted as the desk counts them.
class Calendar final
{
public:
    Calendar(Database &db, const WebSettings &settings, const QDateTime &now);

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
    bool offered(QDate day) const;

    WebSettings m_settings;
    QDateTime m_now;
    QDate m_earliestDay; // a slot must start at or after this day and minute of the day
    int m_earliestMinute = 0;
    mutable QHash<QDate, bool> m_offered; // dayOffered, asked once per day and page
    CapacityTable m_capacities;
    QHash<QString, int> m_counts;
};

} // namespace qrb::web
