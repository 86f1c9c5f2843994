#pragma once

#include "db/ReportQueries.h"
#include "db/Reservation.h"

#include <QDate>
#include <QList>
#include <QString>

namespace qrb {

// The texts of the three report files, lines ended by CR LF, from rows and counts already read. No
// database and no file here: what a report says is decided in these functions alone.

// "日報.txt": the day's counts and rates, then every reservation of the day hour by hour.
// `reservations` in the order of reservationsOfDay; rows outside the ten slots are not listed.
QString dailyReport(QDate day, const ReportCounts &counts, const QList<Reservation> &reservations);

// "未来院リスト.txt": the same header for the whole day, then the reservations given (those whose
// patient has not come yet), without the visit column.
QString notVisitedReport(QDate day, const ReportCounts &counts, const QList<Reservation> &reservations);

// "月報.txt": the month's counts and rates, then one block of counts and rates per day.
QString monthlyReport(QDate month, const MonthCounts &counts);

} // namespace qrb
