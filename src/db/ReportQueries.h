#pragma once

#include "DayStatus.h"
#include "Reservation.h"

#include <QDate>
#include <QList>
#include <QString>

namespace qrb {

class Database;

// A report line shows the day's (or month's) reservations, those not come yet and the places offered.
using ReportCounts = DayCounts;

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
