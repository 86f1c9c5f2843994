#include "Database.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

QString engineReason(const QSqlError &error)
{
    const QString text = error.text().trimmed();
    return text.isEmpty() ? u"(理由不明)"_s : text;
}

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

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

} // namespace

DbError::DbError(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_message(message)
{
}

QSqlDatabase openSqliteFile(const QString &connectionName, const QString &path, bool create)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connectionName);
    // A URI with mode=rw makes SQLite refuse a missing file instead of creating an empty one.
    const QString uri = u"file:"_s + QString::fromLatin1(QUrl::toPercentEncoding(path, "/")) + u"?mode="_s
                        + (create ? u"rwc"_s : u"rw"_s);
    db.setDatabaseName(uri);
    db.setConnectOptions(u"QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=10000"_s);
    db.open();
    return db;
}

Database::Database(QString connectionName)
    : m_connectionName(std::move(connectionName))
{
}

Database::~Database()
{
    DB_close();
}

QSqlDatabase Database::connection() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool Database::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && connection().isOpen();
}

void Database::DB_open(const QString &path)
{
    openFile(path, true);
}

void Database::openNewFile(const QString &path)
{
    openFile(path, false);
}

void Database::openFile(const QString &path, bool requireTables)
{
    DB_close();
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
    }
    if (!failure.isEmpty()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        ::close(fd);
        throw DbError(u"データベースを開けません。\n%1\n理由: %2"_s.arg(QDir::toNativeSeparators(path), failure));
    }
    m_lockFd = fd;
    m_path = path;
}

void Database::DB_close()
{
    m_statements.clear();
    if (QSqlDatabase::contains(m_connectionName)) {
        {
            QSqlDatabase db = connection();
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
    }
    releaseFileLock();
}

void Database::releaseFileLock()
{
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

void Database::DB_compact(const QString &path)
{
    if (isOpen()) {
        throw DbError(u"最適化の前にデータベースを閉じてください。"_s);
    }
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
                QSqlQuery vacuum(db);
                vacuum.prepare(u"VACUUM INTO ?"_s);
                vacuum.addBindValue(temp);
                if (!vacuum.exec()) {
                    failure = engineReason(vacuum.lastError());
                }
                tempCreated = failure.isEmpty();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    // The copy is on disk before it takes the name; the rename replaces the file in one step, so the
    // folder never lacks a database file.
    if (failure.isEmpty() && !syncPath(temp)) {
        failure = systemReason();
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

void Database::execRaw(const QString &sql)
{
    QSqlQuery query(connection());
    if (!query.exec(sql)) {
        throw DbError(u"データベースの処理に失敗しました。\n理由: %1"_s.arg(engineReason(query.lastError())));
    }
}

QSqlQuery &Database::run(const QString &sql, std::initializer_list<QVariant> values)
{
    if (!isOpen()) {
        throw DbError(u"データベースが開かれていません。"_s);
    }
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(connection());
        query.setForwardOnly(true);
        if (!query.prepare(sql)) {
            throw DbError(u"データベースの処理に失敗しました。\n理由: %1"_s.arg(engineReason(query.lastError())));
        }
        it = m_statements.emplace(sql, std::move(query)).first;
    }
    QSqlQuery &query = it->second;
    query.finish();
    int index = 0;
    for (const QVariant &value : values) {
        query.bindValue(index++, value);
    }
    if (!query.exec()) {
        const QString reason = engineReason(query.lastError());
        query.finish();
        throw DbError(u"データベースの処理に失敗しました。\n理由: %1"_s.arg(reason));
    }
    return query;
}

void Database::forEachRow(const QString &sql, std::initializer_list<QVariant> values,
                          const std::function<void(const QSqlQuery &)> &row)
{
    QSqlQuery &query = run(sql, values);
    struct Finish {
        QSqlQuery &q;
        ~Finish() { q.finish(); }
    } finish{query};
    while (query.next()) {
        row(query);
    }
    if (query.lastError().isValid()) {
        throw DbError(u"データベースの読み込みに失敗しました。\n理由: %1"_s.arg(engineReason(query.lastError())));
    }
}

QVariant Database::scalar(const QString &sql, std::initializer_list<QVariant> values)
{
    QVariant result;
    forEachRow(sql, values, [&](const QSqlQuery &q) {
        if (!result.isValid()) {
            result = q.value(0);
        }
    });
    return result.isValid() ? result : QVariant();
}

int Database::write(const QString &sql, std::initializer_list<QVariant> values)
{
    QSqlQuery &query = run(sql, values);
    const int affected = query.numRowsAffected();
    query.finish();
    return affected;
}

Database::WriteTransaction::WriteTransaction(Database &db)
    : m_db(db)
{
    if (!m_db.isOpen()) {
        throw DbError(u"データベースが開かれていません。"_s);
    }
    m_db.execRaw(u"BEGIN IMMEDIATE"_s);
}

Database::WriteTransaction::~WriteTransaction()
{
    if (!m_done) {
        QSqlQuery rollback(m_db.connection());
        rollback.exec(u"ROLLBACK"_s);
    }
}

void Database::WriteTransaction::commit()
{
    m_db.execRaw(u"COMMIT"_s);
    m_done = true;
}

} // namespace qrb
