#pragma once

// What the files of the database layer share and nothing outside it needs.

#include "Database.h"

#include <QSqlError>
#include <QString>

namespace qrb {

// How long a write waits for another workstation's before it gives up, on either engine.
constexpr qint64 LockWaitMs = 10000;

// The engine's reason for a failure, never empty.
QString engineReason(const QSqlError &error);
// What a failed statement tells the user.
QString statementFailure(const QSqlError &error);
// The reason of the last failed system call (errno).
QString systemReason();
// For messages: the database and the server it lives on.
QString pgServerName(const PgServer &server);

} // namespace qrb
