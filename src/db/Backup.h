#pragma once

#include "Database.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace qrb {

// A backup that could not be made; whatever was to follow it did not happen.
class BackupError : public DbError
{
public:
    using DbError::DbError;
};

// Writes a consistent copy of the open database file into the folder "backup" beside it, named after
// the file and the given moment ("yoyaku_20091009_103000.db"), and returns the copy's path. A
// deletion cannot be undone, so it is only started after this has succeeded. The copy is read
// through a connection of its own, so that it can be made inside a write transaction of `db`: then
// it holds exactly what that transaction sees, and no other workstation can write in between. It is
// written under a temporary name, flushed to the disk, and only then takes its name, so that a backup
// cut short (a killed program, a full disk) never looks like a good one. Throws BackupError.
// A PostgreSQL database is shared by every workstation and kept by the server's own backups (the
// README says how): there no copy is made and nothing is returned.
std::optional<QString> backupDatabase(Database &db, const QDateTime &now);

// Puts a backup back as the closed SQLite file `path`. Refused while any QRB has the file open, and
// for a backup that does not check whole or lacks a table. What a crash left in the file's log is
// first taken into the file (a journal rolled back, a write-ahead log written in); the backup is
// copied into the file's folder and replaces the file in one step; the file replaced, whole without
// any log, is kept in the backup folder as one more backup (named after `now`; its path is
// returned), so that the restore itself can be undone. The restored file's history records the
// restore, done from `where`. Throws DbError, and then the database file is as it was. A program
// killed at any point leaves either the file replaced or the restored one, whole.
QString restoreDatabase(const QString &backupPath, const QString &path, const QDateTime &now, const QString &where);

} // namespace qrb
