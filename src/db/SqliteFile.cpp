// The SQLite file on this workstation: opening it without ever creating it (nor one it cannot write),
// the lock that tells other running QRBs apart from compaction, and compaction itself, whose way of
// replacing the file a restore from a backup shares.
#include "Database.h"

#include "DbInternal.h"
#include "History.h"
#include "shared/WholeFile.h"

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
#include <optional>
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

// Why the program could not write `path`, or nothing when it can. A database the program can read
// but not write would accept the user's work and then refuse every booking; SQLite would also leave
// a -shm file behind that only this user can write.
std::optional<QString> unwritable(const QString &path)
{
    if (::access(QFile::encodeName(path).constData(), W_OK) == 0) {
        return std::nullopt;
    }
    return systemReason();
}

// The same owner (where this process may give it), group and permissions as the file `like`, so that
// the other accounts that share the database through its group can go on booking.
QString takeOwnership(const QString &path, const QString &like)
{
    struct stat original {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(QFile::encodeName(like).constData(), &original) != 0) {
        return systemReason();
    }
    if (::chown(native.constData(), original.st_uid, original.st_gid) != 0
        && ::chown(native.constData(), static_cast<uid_t>(-1), original.st_gid) != 0) {
        return u"元のファイルのグループ(%1)を引き継げません: %2"_s.arg(original.st_gid).arg(systemReason());
    }
    if (::chmod(native.constData(), original.st_mode & 07777) != 0) {
        return systemReason();
    }
    return {};
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
    // SQLite keeps its log beside the file the path leads to, so that is the folder it must write in.
    const QString real = info.canonicalFilePath();
    const QString folder = QFileInfo(real).absolutePath();
    QStringList needed{real, folder};
    for (const QString &log : QStringList{real + u"-wal"_s, real + u"-shm"_s}) {
        if (QFileInfo::exists(log)) {
            needed << log;
        }
    }
    for (const QString &file : needed) {
        if (const std::optional<QString> reason = unwritable(file)) {
            throw DbError(u"データベースに書き込めないため、開きません。\n%1\n理由: %2\n"
                          u"このユーザーがファイルとそのフォルダに書き込めるよう、権限を確認してください。"_s.arg(
                              QDir::toNativeSeparators(file), *reason));
        }
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

namespace {

// The files in which SQLite keeps a database's log beside it.
const QStringList LogSuffixes = {u"-journal"_s, u"-wal"_s, u"-shm"_s};

// A log beside `path` that still belongs to the file: a write-ahead log or its index (which exist
// only while a connection has the file open, or after a crash), or a rollback journal that still
// holds the pages of a transaction cut short. A journal of journal_mode TRUNCATE or PERSIST that
// was closed properly is empty, or begins with zeros, and belongs to nothing.
std::optional<QString> logBeside(const QString &path)
{
    for (const QString &suffix : {u"-wal"_s, u"-shm"_s}) {
        if (QFileInfo::exists(path + suffix)) {
            return path + suffix;
        }
    }
    QFile journal(path + u"-journal"_s);
    static const QByteArray magic("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8);
    if (journal.open(QIODevice::ReadOnly) && journal.read(magic.size()) == magic) {
        return journal.fileName();
    }
    return std::nullopt;
}

} // namespace

FileReplacement::FileReplacement(const QString &configuredPath, const QString &job, const QString &connectionName,
                                 WhenDamaged damaged)
    : m_job(job)
    , m_connectionName(connectionName)
{
    if (!QFileInfo(configuredPath).isFile()) {
        throw DbError(u"データベースファイルが見つかりません。\n%1"_s.arg(QDir::toNativeSeparators(configuredPath)));
    }
    // The file the path leads to is the one replaced, in its own folder: renaming the copy over a
    // symbolic link would turn the link into a private file, and the workstations that reach the
    // database through the link would from then on book into two different files.
    m_path = QFileInfo(configuredPath).canonicalFilePath();
    m_temp = QFileInfo(m_path).absolutePath() + u"/TEMP.mdb"_s;
    m_lockFd = lockFile(m_path, LOCK_EX);
    if (m_lockFd < 0) {
        if (errno == EWOULDBLOCK) {
            throw DbError(u"他の端末(またはもう一つのQRB)がデータベースを使用中のため、%1できません。\n"
                          u"他端末で本システムを終了してから、もう一度実行してください。"_s.arg(m_job));
        }
        throw DbError(u"データベースファイルを開けません。\n%1\n理由: %2"_s.arg(QDir::toNativeSeparators(m_path),
                                                                          systemReason()));
    }
    // The destructor does not run for a constructor that throws.
    try {
        takeInLog(damaged);
        claimTemp();
    } catch (const DbError &) {
        ::close(m_lockFd);
        throw;
    }
}

void FileReplacement::takeInLog(WhenDamaged damaged)
{
    // Opening the file and reading it is what makes SQLite roll back a journal a crash left, and the
    // checkpoint writes a write-ahead log into the file; closing the last connection then removes the
    // log. No QRB has the file open (the lock says so), so this connection is the last one.
    const QString name = m_connectionName + u"-log"_s;
    QString reason;
    QStringList check;
    {
        QSqlDatabase db = openSqliteFile(name, m_path, false);
        QSqlQuery query(db);
        if (!db.isOpen()) {
            reason = engineReason(db.lastError());
        } else if (!query.exec(u"PRAGMA quick_check"_s)) {
            reason = engineReason(query.lastError());
        } else {
            while (query.next()) {
                check << query.value(0).toString();
            }
            query.finish();
            if (!query.exec(u"PRAGMA wal_checkpoint(TRUNCATE)"_s)) {
                reason = engineReason(query.lastError());
            }
        }
        query = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (reason.isEmpty() && check != QStringList{u"ok"_s} && damaged == WhenDamaged::Refuse) {
        reason = u"データベースファイルが壊れています。バックアップから復元してください(qrb-restore)。\n"_s
                 + check.mid(0, 5).join(u'\n');
    }
    if (reason.isEmpty()) {
        if (const std::optional<QString> log = logBeside(m_path)) {
            reason = u"ほかのプログラムがデータベースを開いたままです(書き込み途中のログ %1 があります)。"
                     u"そのプログラムを終了してから、もう一度実行してください。"_s.arg(QDir::toNativeSeparators(*log));
        }
    }
    if (!reason.isEmpty()) {
        throw failure(reason);
    }
}

void FileReplacement::claimTemp()
{
    // Claimed before anything is written into it, so that whatever goes wrong later, the TEMP.mdb
    // removed is the one made here, and a stray one of someone else's is never touched.
    const int claim = ::open(QFile::encodeName(m_temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (claim < 0) {
        const bool exists = errno == EEXIST;
        const QString reason = systemReason();
        if (!exists) {
            throw failure(reason);
        }
        // A job killed while it wrote the copy leaves the copy's own log beside it as well; the whole
        // set has to go, or the next copy would be taken for the old one's.
        QStringList found{QDir::toNativeSeparators(m_temp)};
        for (const QString &suffix : LogSuffixes) {
            if (QFileInfo::exists(m_temp + suffix)) {
                found << QDir::toNativeSeparators(m_temp + suffix);
            }
        }
        throw DbError(u"作業用ファイル TEMP.mdb がすでにあります(前回の最適化か復元が途中で終わったときに残るものです)。\n"
                      u"%1\nデータベースはそのままです。これらのファイルを移動または削除してから、もう一度実行してください。"_s.arg(
                          found.join(u'\n')));
    }
    ::close(claim);
    // TEMP.mdb did not exist, so a log under its name belongs to no file: left there, SQLite would
    // replay it into the new copy.
    for (const QString &suffix : LogSuffixes) {
        QFile::remove(m_temp + suffix);
    }
}

FileReplacement::~FileReplacement()
{
    if (!m_done) {
        QFile::remove(m_temp);
    }
    ::close(m_lockFd);
}

DbError FileReplacement::failure(const QString &reason) const
{
    return DbError(u"データベースの%1に失敗しました。データベースは元のままです。\n理由: %2"_s.arg(m_job, reason));
}

void FileReplacement::copyFrom(const QString &source, bool readOnly, const std::function<void(Database &)> &record)
{
    QString reason;
    const QString name = m_connectionName + u"-copy"_s;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(u"file:"_s + QString::fromLatin1(QUrl::toPercentEncoding(source, "/")) + u"?mode="_s
                           + (readOnly ? u"ro"_s : u"rw"_s));
        db.setConnectOptions(u"QSQLITE_OPEN_URI"_s);
        if (!db.open()) {
            reason = engineReason(db.lastError());
        } else {
            QSqlQuery query(db);
            // A backup must be a whole reservation database before it may replace the clinic's file.
            if (reason.isEmpty() && readOnly
                && (!query.exec(u"SELECT (SELECT quick_check FROM pragma_quick_check) = 'ok' AND "
                                "(SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' "
                                "AND UPPER(name) IN ('YOYAKU', 'SETTING')) = 2"_s)
                    || !query.next() || !query.value(0).toBool())) {
                reason = query.lastError().isValid() ? engineReason(query.lastError())
                                                     : u"予約データベース(YOYAKU, SETTING)として読めません。"_s;
            }
            query.finish();
            QSqlQuery vacuum(db);
            vacuum.prepare(u"VACUUM INTO ?"_s);
            vacuum.addBindValue(m_temp);
            if (reason.isEmpty() && !vacuum.exec()) {
                reason = engineReason(vacuum.lastError());
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    // The copy comes out with a plain rollback journal; it is put back to write-ahead logging (the
    // mode lives in the file), so bookings stay one flush each.
    if (reason.isEmpty()) {
        const QString copyName = m_connectionName + u"-copied"_s;
        {
            QSqlDatabase copy = openSqliteFile(copyName, m_temp, false);
            QSqlQuery mode(copy);
            if (!copy.isOpen() || !mode.exec(u"PRAGMA journal_mode = WAL"_s)) {
                reason = engineReason(copy.isOpen() ? mode.lastError() : copy.lastError());
            }
            mode.finish();
            copy.close();
        }
        QSqlDatabase::removeDatabase(copyName);
    }
    // The job's history row goes into the copy, so that it is there exactly when the copy becomes the
    // database. Opening the copy also gives a backup from before the history existed its table.
    if (reason.isEmpty()) {
        try {
            Database copy(m_connectionName + u"-record"_s);
            copy.DB_open(m_temp);
            Database::WriteTransaction transaction(copy);
            record(copy);
            transaction.commit();
        } catch (const DbError &error) {
            reason = error.message();
        }
    }
    if (reason.isEmpty()) {
        reason = takeOwnership(m_temp, m_path);
    }
    if (!reason.isEmpty()) {
        throw failure(reason);
    }
}

void FileReplacement::commit()
{
    // A log beside the file now (another program opened it meanwhile) would be replayed into the new file.
    if (const std::optional<QString> log = logBeside(m_path)) {
        throw failure(u"書き込み途中のログ(%1)が残っています。"_s.arg(QDir::toNativeSeparators(*log)));
    }
    // The copy is on disk before it takes the name; the rename replaces the file in one step, so the
    // folder never lacks a database file.
    const QString reason = commitWholeFile(m_temp, m_path);
    if (!reason.isEmpty()) {
        throw failure(reason);
    }
    m_done = true;
}

void Database::compactFile(const QString &path)
{
    FileReplacement replacement(path, u"最適化"_s, m_connectionName, FileReplacement::WhenDamaged::Refuse);
    replacement.copyFrom(replacement.path(), false, [this](Database &copy) {
        copy.write(historyInsertStatement(), historyValues(compactionEntry(m_actor)));
    });
    replacement.commit();
}

} // namespace qrb
