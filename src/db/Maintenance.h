#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace qrb {

class Database;

// A deletion done: how many reservations it removed, and the backup holding every one of them (the
// database as it was the moment before; none on PostgreSQL, whose server keeps its own backups).
struct Deletion {
    int count = 0;
    std::optional<QString> backup;
};

// Deletions cannot be undone, so each first copies the database (backupDatabase, named after `now`)
// under the same write lock as the deletion itself: no workstation and no web booking can add a
// reservation between the copy and the deletion, so every reservation deleted is in the copy. A copy
// that cannot be made throws BackupError and deletes nothing; any other failure throws DbError and
// deletes nothing either.

// Deletes every reservation in one transaction.
Deletion deleteAllReservations(Database &db, const QDateTime &now);
// Deletes, in one transaction, the reservations dated from `firstDate` through `lastDate` (both
// "YYYY/MM/DD", both included).
Deletion deleteReservationsBetween(Database &db, const QString &firstDate, const QString &lastDate,
                                   const QDateTime &now);

} // namespace qrb
