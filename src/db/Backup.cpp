// Backups of the SQLite file, taken before every deletion, and putting one back.
#include "Backup.h"

#include "History.h"

#include "Database.h"
#include "DbInternal.h"
#include "ReservationNumbers.h"
#include "shared/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// A name in the backup folder of the database file `path` that no backup has yet: two backups within
// one second must not meet.
QString freeBackupName(const QString &path, const QDateTime &now)
{
    const QFileInfo file(path);
    const QString folder = file.absolutePath() + u"/backup"_s;
    if (!QDir().mkpath(folder)) {
        throw DbError(u"バックアップ用のフォルダを作れません。\n%1"_s.arg(QDir::toNativeSeparators(folder)));
    }
    const QString stem = folder + u'/' + file.completeBaseName() + u'_' + now.toString(u"yyyyMMdd_HHmmss"_s);
    const QString suffix = file.suffix().isEmpty() ? QString() : u'.' + file.suffix();
    QString name = stem + suffix;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo::exists(name + u".part"_s); ++n) {
        name = stem + u'_' + QString::number(n) + suffix;
    }
    return name;
}

// A new name in `folder` reaches the disk: without it a power cut could lose the name.
bool syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return synced;
}

} // namespace

std::optional<QString> backupDatabase(Database &db, const QDateTime &now)
{
    if (!db.isOpen()) {
        throw DbError(u"データベースが開かれていません。"_s);
    }
    if (db.isPostgres()) {
        return std::nullopt;
    }
    const QString source = QFileInfo(db.path()).canonicalFilePath();
    QString target;
    QString failure;
    try {
        target = freeBackupName(source, now);
    } catch (const DbError &error) {
        throw BackupError(error.message());
    }
    const QString part = target + u".part"_s;
    // SQLite cannot copy a database inside a transaction of the same connection; a second one reads
    // what is committed, and while `db` holds the write lock that is exactly what `db` sees.
    const QString name = u"qrb-backup-%1"_s.arg(reinterpret_cast<quintptr>(&db));
    {
        QSqlDatabase copy = openSqliteFile(name, source, false);
        QSqlQuery vacuum(copy);
        if (!copy.isOpen()) {
            failure = engineReason(copy.lastError());
        } else {
            vacuum.prepare(u"VACUUM INTO ?"_s);
            vacuum.addBindValue(part);
            if (!vacuum.exec()) {
                failure = engineReason(vacuum.lastError());
            }
        }
        vacuum = QSqlQuery();
        copy.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (failure.isEmpty()) {
        failure = commitWholeFile(part, target);
    }
    if (!failure.isEmpty()) {
        QFile::remove(part);
        throw BackupError(u"バックアップを作れません。\n%1\n%2"_s.arg(QDir::toNativeSeparators(target), failure));
    }
    return target;
}

QString restoreDatabase(const QString &backupPath, const QString &path, const QDateTime &now, const QString &where)
{
    if (!QFileInfo(backupPath).isFile()) {
        throw DbError(u"バックアップファイルが見つかりません。\n%1"_s.arg(QDir::toNativeSeparators(backupPath)));
    }
    // Each step leaves the database whole if the program is killed after it: the file replaced stays
    // untouched until the rename puts the restored one in its place, and needs no log by then.
    FileReplacement replacement(path, u"復元"_s, u"qrb-restore"_s, FileReplacement::WhenDamaged::Replace);
    replacement.copyFrom(backupPath, true, [&](Database &copy) {
        carryReservationNumbersForward(copy, replacement.path());
        copy.setActor(where);
        recordRestored(copy, QFileInfo(backupPath).fileName(), copy.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt());
    });

    // The file replaced becomes a backup of its own, as a second name of the same file, which lasts
    // on the disk before the rename takes the first name away from it.
    const QString current = replacement.path();
    const QString kept = freeBackupName(current, now);
    if (::link(QFile::encodeName(current).constData(), QFile::encodeName(kept).constData()) != 0
        || !syncFolder(QFileInfo(kept).absolutePath())) {
        const QString reason = systemReason();
        QFile::remove(kept);
        throw replacement.failure(reason);
    }
    try {
        replacement.commit();
    } catch (const DbError &) {
        QFile::remove(kept);
        throw;
    }
    return kept;
}

} // namespace qrb
