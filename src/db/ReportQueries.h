#pragma once

#include "Reservation.h"

#include <QDate>
#include <QList>
#include <QString>

namespace qrb {

class Database;

// The three numbers a report line shows for a day or a month. Wider than the screens' counts: a month
// of places easily passes 32767 (31 days × 10 slots × 110 places).
struct ReportCounts {
    qint64 reserved = 0;   // every reservation, come or not
    qint64 notVisited = 0; // of those, the ones whose patient has not come yet (CFLG 0)
    qint64 places = 0;     // places offered over the day's weekday (a weekday without SETTING rows offers 0)
};

// The counts of one day: its reservations and the places of its weekday.
ReportCounts dayCounts(Database &db, QDate day);

// The reservations of one day in the order the reports list them: by hour, then by reservation
// number (the order of entry). With notVisitedOnly, only those whose patient has not come yet.
QList<Reservation> reservationsOfDay(Database &db, QDate day, bool notVisitedOnly);

// The counts of a month: the month as a whole and each of its days (days[0] is the 1st).
struct MonthCounts {
    ReportCounts month;
    QList<ReportCounts> days;
};
// Read with one grouped query per table, whatever the length of the month. The month's reservations
// are every YDATE beginning with "YYYY/MM", as the day lines count only their exact date.
MonthCounts monthCounts(Database &db, int year, int month);

} // namespace qrb
