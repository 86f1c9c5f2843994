#pragma once

#include <QStringList>
#include <QVariantList>

#include <functional>

namespace qrb {
class Database;
}

namespace qrb::test {

// The rows a query reads, each its columns joined by blanks.
QStringList rowsOf(Database &db, const QString &sql, const QVariantList &params = {});

// The bytes of a file; empty when it cannot be read.
QByteArray fileBytes(const QString &path);
// Writes `bytes` as the whole file; false when it cannot.
bool writeFileBytes(const QString &path, const QByteArray &bytes);

// The message of the DbError `action` throws; empty when it throws none.
QString messageOf(const std::function<void()> &action);

// A program run to its end in `folder`: its exit code (-1 when it did not end by itself within a
// minute), standard output (trimmed) and standard error.
struct Run {
    int code = -1;
    QString out;
    QString err;
};
Run runProgram(const QString &program, const QStringList &arguments, const QString &folder = {});

} // namespace qrb::test
