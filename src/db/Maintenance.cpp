#include "Maintenance.h"

#include "Database.h"
#include "History.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qrb {

std::optional<QString> backupDatabase(Database &db, const QDateTime &now)
{
    if (!db.isOpen()) {
        throw DbError(u"データベースが開かれていません。"_s);
    }
    if (db.isPostgres()) {
        return std::nullopt;
    }
    const QFileInfo file(db.path());
    const QString folder = file.absolutePath() + u"/backup"_s;
    if (!QDir().mkpath(folder)) {
        throw DbError(u"バックアップ用のフォルダを作れません。\n%1"_s.arg(QDir::toNativeSeparators(folder)));
    }
    const QString stem = folder + u'/' + file.completeBaseName() + u'_' + now.toString(u"yyyyMMdd_HHmmss"_s);
    const QString suffix = file.suffix().isEmpty() ? QString() : u'.' + file.suffix();
    // Two backups within one second must not meet: the engine refuses to write over an existing file.
    QString target = stem + suffix;
    for (int n = 2; QFileInfo::exists(target); ++n) {
        target = stem + u'_' + QString::number(n) + suffix;
    }
    try {
        db.write(u"VACUUM INTO ?"_s, {target});
    } catch (const DbError &error) {
        throw DbError(u"バックアップを作れません。\n%1\n%2"_s.arg(QDir::toNativeSeparators(target), error.message()));
    }
    return target;
}

int deleteAllReservations(Database &db)
{
    Database::WriteTransaction transaction(db);
    const int deleted = db.write(u"DELETE FROM YOYAKU"_s);
    recordDeletion(db, HistoryKind::AllDeleted, deleted);
    transaction.commit();
    return deleted;
}

int deleteReservationsBetween(Database &db, const QString &firstDate, const QString &lastDate)
{
    Database::WriteTransaction transaction(db);
    const int deleted = db.write(u"DELETE FROM YOYAKU WHERE YDATE >= ? AND YDATE <= ?"_s, {firstDate, lastDate});
    recordDeletion(db, HistoryKind::PeriodDeleted, deleted, firstDate, lastDate);
    transaction.commit();
    return deleted;
}

} // namespace qrb
