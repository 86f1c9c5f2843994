#include "Common.h"

#include "db/Database.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>

namespace qrb::test {

QStringList rowsOf(Database &db, const QString &sql, const QVariantList &params)
{
    QStringList rows;
    db.forEachRow(sql, params, [&](const QSqlQuery &q) {
        QStringList columns;
        for (int i = 0; i < q.record().count(); ++i) {
            columns << q.value(i).toString();
        }
        rows << columns.join(u' ');
    });
    return rows;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString messageOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const DbError &error) {
        return error.message();
    }
    return {};
}

Run runProgram(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        return {-1, {}, process.errorString()};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace qrb::test
