#pragma once

#include <QString>

namespace qrb {

class Database;

// Deletes every reservation in one transaction; returns how many there were.
int deleteAllReservations(Database &db);
// Deletes, in one transaction, the reservations dated from `firstDate` through `lastDate` (both
// "YYYY/MM/DD", both included); returns how many there were.
int deleteReservationsBetween(Database &db, const QString &firstDate, const QString &lastDate);

} // namespace qrb
