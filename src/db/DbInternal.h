#pragma once

// What the files of the database layer share and nothing outside it needs.

#include "Database.h"

#include <QSqlError>
#include <QString>

#include <functional>

namespace qrb {

// How long a write waits for another workstation's before it gives up, on either engine.
constexpr qint64 LockWaitMs = 10000;

// The reason for a failure, never empty: what it means for the desk in Japanese where that is known,
// then the engine's own text.
QString engineReason(const QSqlError &error);
// What a failed statement tells the user.
QString statementFailure(const QSqlError &error);
// The reason of the last failed system call (errno).
QString systemReason();
// For messages: the database and the server it lives on.
QString pgServerName(const PgServer &server);
// Refuses, with a DbError, encryption settings the client library would not take.
void checkSsl(const PgServer &server);

// How compaction and restore replace a closed SQLite file: with the file locked against every QRB, a
// compact copy is written into TEMP.mdb in the file's own folder (the folder the path leads to, past
// any symbolic link), given the owner, group and permissions of the file, and renamed over it in
// one step. Until commit() the database file is untouched; a replacement that is not committed
// removes the TEMP.mdb it made. Whatever a crash left beside the file (a hot rollback journal, a
// write-ahead log) is taken into it first, so that the file stands alone: a copy of it, or the file
// kept after a restore, is whole without any log, and no log of it ever meets the file put in its place.
class FileReplacement
{
public:
    // What the job does with a file that does not check whole after its log was taken in: compaction
    // would copy the damage and refuses; a restore is what mends it and goes ahead.
    enum class WhenDamaged { Refuse, Replace };
    // Takes the exclusive lock, takes the log into the file and claims TEMP.mdb, or throws DbError:
    // another QRB has the file open, another program still holds its log, or a TEMP.mdb is already
    // there. `job` names the work in messages ("最適化").
    FileReplacement(const QString &path, const QString &job, const QString &connectionName, WhenDamaged damaged);
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // The database file itself, symbolic links resolved.
    const QString &path() const { return m_path; }
    // Writes the copy of `source`: the database file itself (readOnly false), or a backup (readOnly
    // true: opened read-only, and it must check whole and hold both tables), then lets `record` add
    // the job's history row to the copy, opened as a Database inside a write transaction. Throws DbError.
    void copyFrom(const QString &source, bool readOnly, const std::function<void(Database &)> &record);
    // Puts the copy in place; refused while a log lies beside the file. Throws DbError.
    void commit();
    // The message of a failure of this job, with the file kept as it was.
    DbError failure(const QString &reason) const;

private:
    void takeInLog(WhenDamaged damaged);
    void claimTemp();

    QString m_job;
    QString m_connectionName;
    QString m_path;
    QString m_temp;
    int m_lockFd = -1;
    bool m_done = false;
};

} // namespace qrb
