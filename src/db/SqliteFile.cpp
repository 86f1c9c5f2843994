// The SQLite file on this workstation: opening it without ever creating it, the lock that tells
// other running QRBs apart from compaction, and compaction itself.
#include "Database.h"

#include "DbInternal.h"
#include "History.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

#include <sqlite3.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// Every running QRB holds a shared lock on the database file for as long as it has it open;
// compaction takes the exclusive one, so it can tell that another workstation still uses the file.
// These are flock() locks, independent of the record locks SQLite itself takes on the same file.
int lockFile(const QString &path, int operation)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, operation | LOCK_NB) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool sameFile(int fd, const QString &path)
{
    struct stat a {};
    struct stat b {};
    return ::fstat(fd, &a) == 0 && ::stat(QFile::encodeName(path).constData(), &b) == 0 && a.st_dev == b.st_dev
           && a.st_ino == b.st_ino;
}

bool syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// SQLite's own waiting backs off to trying every 100 ms once a workstation has waited a second,
// while a workstation that has just begun to wait tries after 1, 2, 5 ms: with several desks booking
// at once, the one that has waited longest keeps losing the lock to newcomers until its timeout runs
// out. Trying every few milliseconds for the whole wait gives every waiting desk the same chance.
int waitForLock(void *context, int attempt)
{
    auto *waiting = static_cast<QElapsedTimer *>(context);
    if (attempt == 0) {
        waiting->start();
    }
    if (waiting->elapsed() >= LockWaitMs) {
        return 0;
    }
    QThread::usleep(1000 + QRandomGenerator::global()->bounded(2000u));
    return 1;
}

} // namespace

QSqlDatabase openSqliteFile(const QString &connectionName, const QString &path, bool create)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connectionName);
    // A URI with mode=rw makes SQLite refuse a missing file instead of creating an empty one.
    const QString uri = u"file:"_s + QString::fromLatin1(QUrl::toPercentEncoding(path, "/")) + u"?mode="_s
                        + (create ? u"rwc"_s : u"rw"_s);
    db.setDatabaseName(uri);
    db.setConnectOptions(u"QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1"_s.arg(LockWaitMs));
    db.open();
    return db;
}

void Database::openFile(const QString &path, bool requireTables)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        throw DbError(u"データベースファイルが見つかりません。\n%1\n設定(setting.ini)の SVNM と SYS0、"
                      u"共有フォルダへの接続を確認してください。"_s.arg(QDir::toNativeSeparators(path)));
    }
    if (!info.isFile()) {
        throw DbError(u"データベースファイルではありません。\n%1"_s.arg(QDir::toNativeSeparators(path)));
    }

    // A compaction elsewhere holds the exclusive lock for a few seconds at most; wait for it, and make
    // sure the lock is on the file that now carries the name (compaction replaces it).
    QElapsedTimer waited;
    waited.start();
    int fd = -1;
    while (true) {
        fd = lockFile(path, LOCK_SH);
        if (fd >= 0 && sameFile(fd, path)) {
            break;
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        } else if (errno != EWOULDBLOCK) {
            throw DbError(u"データベースファイルを開けません。\n%1\n理由: %2"_s.arg(QDir::toNativeSeparators(path),
                                                                              systemReason()));
        }
        if (waited.elapsed() > 10000) {
            throw DbError(u"データベースファイルは他の端末で最適化中です。\n%1\nしばらくしてからもう一度起動してください。"_s.arg(
                QDir::toNativeSeparators(path)));
        }
        QThread::msleep(100);
    }

    QSqlDatabase db = openSqliteFile(m_connectionName, path, false);
    QString failure;
    if (!db.isOpen()) {
        failure = engineReason(db.lastError());
    } else {
        // Reading the catalogue is what tells a database from any other file.
        QSqlQuery probe(db);
        if (!probe.exec(u"SELECT name FROM sqlite_master WHERE type = 'table'"_s)) {
            failure = engineReason(probe.lastError());
        } else {
            QStringList tables;
            while (probe.next()) {
                tables << probe.value(0).toString().toUpper();
            }
            if (requireTables && (!tables.contains(u"YOYAKU"_s) || !tables.contains(u"SETTING"_s))) {
                failure = u"予約データベース(YOYAKU, SETTING)ではありません。"_s;
            }
        }
        // A reservation counts as made only once it is on the disk (one flush per write in WAL mode).
        if (failure.isEmpty() && !probe.exec(u"PRAGMA synchronous = FULL"_s)) {
            failure = engineReason(probe.lastError());
        }
    }
    if (!failure.isEmpty()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        ::close(fd);
        throw DbError(u"データベースを開けません。\n%1\n理由: %2"_s.arg(QDir::toNativeSeparators(path), failure));
    }
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        sqlite3_busy_handler(*static_cast<sqlite3 *const *>(handle.constData()), &waitForLock, &m_lockWait);
    }
    m_lockFd = fd;
}

void Database::releaseFileLock()
{
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

void Database::compactFile(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (!QFileInfo(path).isFile()) {
        throw DbError(u"データベースファイルが見つかりません。\n%1"_s.arg(native));
    }
    const QString temp = QFileInfo(path).absolutePath() + u"/TEMP.mdb"_s;
    if (QFileInfo::exists(temp)) {
        throw DbError(u"作業用ファイル TEMP.mdb がすでにあります。\n%1\n"
                      u"データベースはそのままです。TEMP.mdb を移動または削除してから、もう一度実行してください。"_s.arg(
                          QDir::toNativeSeparators(temp)));
    }
    const int fd = lockFile(path, LOCK_EX);
    if (fd < 0) {
        if (errno == EWOULDBLOCK) {
            throw DbError(u"他の端末(またはもう一つのQRB)がデータベースを使用中のため、最適化できません。\n"
                          u"他端末で本システムを終了してから、もう一度実行してください。"_s);
        }
        throw DbError(u"データベースファイルを開けません。\n%1\n理由: %2"_s.arg(native, systemReason()));
    }

    QString failure;
    bool tempCreated = false;
    {
        const QString name = m_connectionName + u"-compact"_s;
        {
            QSqlDatabase db = openSqliteFile(name, path, false);
            if (!db.isOpen()) {
                failure = engineReason(db.lastError());
            } else {
                // Whatever a crash left in the write-ahead log goes into the file first, so the copy has it.
                QSqlQuery checkpoint(db);
                if (!checkpoint.exec(u"PRAGMA wal_checkpoint(TRUNCATE)"_s)) {
                    failure = engineReason(checkpoint.lastError());
                }
                checkpoint.finish();
                QSqlQuery vacuum(db);
                vacuum.prepare(u"VACUUM INTO ?"_s);
                vacuum.addBindValue(temp);
                if (failure.isEmpty() && !vacuum.exec()) {
                    failure = engineReason(vacuum.lastError());
                }
                tempCreated = failure.isEmpty();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    // The copy comes out with a plain rollback journal; it is put back to write-ahead logging (the
    // mode lives in the file), so bookings stay one flush each after compaction.
    if (failure.isEmpty()) {
        const QString name = m_connectionName + u"-compacted"_s;
        {
            QSqlDatabase copy = openSqliteFile(name, temp, false);
            QSqlQuery mode(copy);
            if (!copy.isOpen() || !mode.exec(u"PRAGMA journal_mode = WAL"_s)) {
                failure = engineReason(copy.isOpen() ? mode.lastError() : copy.lastError());
            }
            mode.finish();
            // The compaction's history row goes into the copy: it is there exactly when the copy
            // becomes the database.
            if (failure.isEmpty()) {
                QSqlQuery record(copy);
                record.prepare(historyInsertStatement());
                for (const QVariant &value : historyValues(compactionEntry(m_actor))) {
                    record.addBindValue(value);
                }
                if (!record.exec()) {
                    failure = engineReason(record.lastError());
                }
                record.finish();
            }
            copy.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    // The copy is on disk before it takes the name; the rename replaces the file in one step, so the
    // folder never lacks a database file.
    if (failure.isEmpty() && !syncPath(temp)) {
        failure = systemReason();
    }
    // A write-ahead log still beside the file would be replayed into the new file at the next opening.
    if (failure.isEmpty() && QFileInfo::exists(path + u"-wal"_s)) {
        failure = u"書き込み途中のログ(%1)が残っています。"_s.arg(QDir::toNativeSeparators(path + u"-wal"_s));
    }
    if (failure.isEmpty() && ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
        failure = systemReason();
    }
    if (failure.isEmpty()) {
        syncPath(QFileInfo(path).absolutePath());
    } else if (tempCreated) {
        QFile::remove(temp);
    }
    ::close(fd);
    if (!failure.isEmpty()) {
        throw DbError(u"データベースの最適化に失敗しました。データベースは元のままです。\n理由: %1"_s.arg(failure));
    }
}

} // namespace qrb
