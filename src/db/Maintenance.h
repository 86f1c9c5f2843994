#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace qrb {

class Database;

// Writes a consistent copy of the open database file into the folder "backup" beside it, named after
// the file and the given moment ("yoyaku_20091009_103000.db"), and returns the copy's path. A
// deletion cannot be undone, so it is only started after this has succeeded.
// A PostgreSQL database is shared by every workstation and kept by the server's own backups (the
// README says how): there no copy is made and nothing is returned.
std::optional<QString> backupDatabase(Database &db, const QDateTime &now);

// Deletes every reservation in one transaction; returns how many there were.
int deleteAllReservations(Database &db);
// Deletes, in one transaction, the reservations dated from `firstDate` through `lastDate` (both
// "YYYY/MM/DD", both included); returns how many there were.
int deleteReservationsBetween(Database &db, const QString &firstDate, const QString &lastDate);

} // namespace qrb
