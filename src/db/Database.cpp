#include "Database.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>

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

// What a failed statement tells the user. Waiting too long for another workstation's write is the
// one failure the user can simply try again, so that one says so.
QString statementFailure(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    const bool busy = code == u"55P03"_s    // PostgreSQL: lock_not_available (lock_timeout)
                      || code == u"5"_s     // SQLITE_BUSY (busy timeout)
                      || code == u"6"_s;    // SQLITE_LOCKED
    const QString head = busy ? u"他の端末がデータベースに書き込み中のため、処理できませんでした。"
                                u"しばらくしてからもう一度実行してください。"_s
                              : u"データベースの処理に失敗しました。"_s;
    return head + u"\n理由: "_s + engineReason(error);
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

// How long a write waits for another workstation's before it gives up, on either engine.
constexpr qint64 LockWaitMs = 10000;

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

// libpq's quoting: a value that is empty or holds blanks, quotes or backslashes goes between single
// quotes, with quotes and backslashes escaped.
QString quoteConnValue(const QString &value)
{
    const bool plain = !value.isEmpty() && std::none_of(value.begin(), value.end(), [](QChar c) {
        return c.isSpace() || c == u'\'' || c == u'\\';
    });
    if (plain) {
        return value;
    }
    QString quoted = value;
    quoted.replace(u'\\', u"\\\\"_s).replace(u'\'', u"\\'"_s);
    return u'\'' + quoted + u'\'';
}

int parsePort(const QString &text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        throw DbError(u"ポート番号が正しくありません: %1\n1〜65535 の数字で指定してください。"_s.arg(text));
    }
    return port;
}

QString pgServerName(const PgServer &server)
{
    const QString host = server.host.isEmpty() ? u"(既定)"_s : server.host;
    const QString port = server.port > 0 ? QString::number(server.port) : u"(既定)"_s;
    const QString name = server.dbname.isEmpty() ? u"(既定)"_s : server.dbname;
    return u"PostgreSQL データベース %1 (サーバー %2、ポート %3)"_s.arg(name, host, port);
}

// Both tables, looked up as every statement names them (unquoted, so folded to lower case).
bool pgHasTables(QSqlDatabase &db, QString &failure)
{
    QSqlQuery probe(db);
    if (!probe.exec(u"SELECT to_regclass('yoyaku') IS NOT NULL, to_regclass('setting') IS NOT NULL"_s)
        || !probe.next()) {
        failure = engineReason(probe.lastError());
        return false;
    }
    return probe.value(0).toBool() && probe.value(1).toBool();
}

} // namespace

QString PgServer::connInfo() const
{
    QStringList parts;
    const auto add = [&](const QString &key, const QString &value) {
        if (!value.isEmpty()) {
            parts << key + u'=' + quoteConnValue(value);
        }
    };
    add(u"host"_s, host);
    add(u"port"_s, port > 0 ? QString::number(port) : QString());
    add(u"dbname"_s, dbname);
    add(u"user"_s, user);
    add(u"password"_s, password);
    return parts.join(u' ');
}

PgServer PgServer::fromConnInfo(const QString &text)
{
    PgServer server;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace()) {
            ++i;
        }
    };
    const auto malformed = [&] {
        return DbError(u"接続文字列が正しくありません: %1\n"
                       u"例: host=/var/run/postgresql port=5432 dbname=qrb user=qrb"_s.arg(text));
    };
    while (true) {
        skipBlanks();
        if (i >= n) {
            break;
        }
        const qsizetype keyStart = i;
        while (i < n && text.at(i) != u'=' && !text.at(i).isSpace()) {
            ++i;
        }
        const QString key = text.mid(keyStart, i - keyStart);
        skipBlanks();
        if (key.isEmpty() || i >= n || text.at(i) != u'=') {
            throw malformed();
        }
        ++i;
        skipBlanks();
        QString value;
        if (i < n && text.at(i) == u'\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < n) {
                    value += text.at(i++);
                } else if (c == u'\'') {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed) {
                throw malformed();
            }
        } else {
            while (i < n && !text.at(i).isSpace()) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < n) {
                    value += text.at(i++);
                } else {
                    value += c;
                }
            }
        }
        if (key == u"host"_s) {
            server.host = value;
        } else if (key == u"port"_s) {
            server.port = parsePort(value);
        } else if (key == u"dbname"_s) {
            server.dbname = value;
        } else if (key == u"user"_s) {
            server.user = value;
        } else if (key == u"password"_s) {
            server.password = value;
        } else {
            throw DbError(u"接続文字列のキー %1 は使えません(使えるのは host, port, dbname, user, password)。"_s.arg(key));
        }
    }
    return server;
}

DbTarget DbTarget::sqlite(const QString &path)
{
    DbTarget target;
    target.sqlitePath = path;
    return target;
}

DbTarget DbTarget::server(const PgServer &server)
{
    DbTarget target;
    target.postgres = server;
    return target;
}

QString DbTarget::displayName() const
{
    return postgres ? pgServerName(*postgres) : QDir::toNativeSeparators(sqlitePath);
}

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
    db.setConnectOptions(u"QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1"_s.arg(LockWaitMs));
    db.open();
    return db;
}

QSqlDatabase connectPgServer(const QString &connectionName, const PgServer &server)
{
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, connectionName);
        db.setHostName(server.host);
        if (server.port > 0) {
            db.setPort(server.port);
        }
        db.setDatabaseName(server.dbname);
        db.setUserName(server.user);
        db.setPassword(server.password);
        // A server that does not answer is reported within seconds rather than freezing the desk.
        db.setConnectOptions(u"connect_timeout=10;application_name=QRB"_s);
        if (!db.open()) {
            failure = engineReason(db.lastError());
        } else {
            // The session settings every statement relies on, whatever the server's defaults:
            // '\' in ESCAPE '\' is one backslash; a writer waits at most 10 s for another one's lock
            // (as long as SQLite's busy timeout) and then fails with a message instead of hanging;
            // a workstation that stops in the middle of a transaction (a frozen PC, a dropped
            // network) loses its transaction after a minute instead of blocking the others; and a
            // booking is reported stored only once the server has it on its disk.
            const QStringList settings = {
                u"SET standard_conforming_strings = on"_s,
                u"SET synchronous_commit = on"_s,
                u"SET lock_timeout = '%1ms'"_s.arg(LockWaitMs),
                u"SET idle_in_transaction_session_timeout = '60s'"_s,
            };
            for (const QString &sql : settings) {
                QSqlQuery set(db);
                if (!set.exec(sql)) {
                    failure = engineReason(set.lastError());
                    break;
                }
            }
            if (!failure.isEmpty()) {
                db.close();
            }
        }
    }
    if (!failure.isEmpty()) {
        QSqlDatabase::removeDatabase(connectionName);
        throw DbError(u"データベースサーバーに接続できません。\n%1\n理由: %2\n"
                      u"setting.ini の [POSTGRESQL] (HOST, PORT, DBNAME, USER, PASSWORD) と、"
                      u"サーバーが動いていることを確認してください。"_s.arg(pgServerName(server), failure));
    }
    return QSqlDatabase::database(connectionName, false);
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
    open(DbTarget::sqlite(path), true);
}

void Database::DB_open(const DbTarget &target)
{
    open(target, true);
}

void Database::openEmpty(const DbTarget &target)
{
    open(target, false);
}

void Database::open(const DbTarget &target, bool requireTables)
{
    DB_close();
    if (target.postgres) {
        openServer(*target.postgres, requireTables);
    } else {
        openFile(target.sqlitePath, requireTables);
    }
    m_target = target;
    m_path = target.sqlitePath;
}

void Database::openServer(const PgServer &server, bool requireTables)
{
    QSqlDatabase db = connectPgServer(m_connectionName, server);
    QString failure;
    if (!pgHasTables(db, failure) && requireTables && failure.isEmpty()) {
        failure = u"予約データベース(YOYAKU, SETTING)ではありません。"_s;
    }
    if (!failure.isEmpty()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw DbError(u"データベースを開けません。\n%1\n理由: %2"_s.arg(pgServerName(server), failure));
    }
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
    DB_compact(DbTarget::sqlite(path));
}

void Database::DB_compact(const DbTarget &target)
{
    if (isOpen()) {
        throw DbError(u"最適化の前にデータベースを閉じてください。"_s);
    }
    if (target.postgres) {
        vacuumServer(*target.postgres);
    } else {
        compactFile(target.sqlitePath);
    }
}

void Database::vacuumServer(const PgServer &server)
{
    const QString name = m_connectionName + u"-compact"_s;
    QString failure;
    {
        QSqlDatabase db = connectPgServer(name, server);
        QSqlQuery query(db);
        // VACUUM only warns, and does nothing, on a table its user may not vacuum: ask first, so that
        // the maintenance screen never reports a compaction that did not happen.
        if (!query.exec(u"SELECT COUNT(*) FROM pg_class c, pg_database d "
                        "WHERE d.datname = current_database() "
                        "AND c.oid IN (to_regclass('yoyaku'), to_regclass('setting')) "
                        "AND (pg_has_role(c.relowner, 'USAGE') OR pg_has_role(d.datdba, 'USAGE'))"_s)
            || !query.next()) {
            failure = engineReason(query.lastError());
        } else if (query.value(0).toInt() != 2) {
            failure = u"テーブル YOYAKU, SETTING を最適化(VACUUM)する権限がありません。"
                      u"テーブルの所有者のユーザーで接続してください。"_s;
        } else {
            query.finish();
            // Outside any transaction: VACUUM cannot run inside one.
            if (!query.exec(u"VACUUM (ANALYZE) YOYAKU, SETTING"_s)) {
                failure = engineReason(query.lastError());
            }
        }
        query = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty()) {
        throw DbError(u"データベースの最適化に失敗しました。データベースは元のままです。\n%1\n理由: %2"_s.arg(
            pgServerName(server), failure));
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

void Database::execRaw(const QString &sql)
{
    QSqlQuery query(connection());
    if (!query.exec(sql)) {
        throw DbError(statementFailure(query.lastError()));
    }
}

QString Database::likeIgnoringCase(const QString &column) const
{
    // SQLite's LIKE already ignores the case of ASCII letters, and its NOCASE indexes serve it;
    // PostgreSQL's indexes are on UPPER(column).
    return isPostgres() ? u"UPPER(%1) LIKE UPPER(?) ESCAPE '\\'"_s.arg(column)
                        : u"%1 LIKE ? ESCAPE '\\'"_s.arg(column);
}

QString Database::equalsIgnoringCase(const QString &column) const
{
    return isPostgres() ? u"UPPER(%1) = UPPER(?)"_s.arg(column) : u"%1 = ? COLLATE NOCASE"_s.arg(column);
}

QString Database::containsText(const QString &column) const
{
    return isPostgres() ? u"strpos(%1, ?) > 0"_s.arg(column) : u"instr(%1, ?) > 0"_s.arg(column);
}

QSqlQuery &Database::run(const QString &sql, std::initializer_list<QVariant> values)
{
    if (!isOpen()) {
        throw DbError(u"データベースが開かれていません。"_s);
    }
    // PostgreSQL prepares only queries and data changes; statements without values (the schema,
    // maintenance) go to the server as they are, which is just as safe since nothing is spliced in.
    const bool direct = isPostgres() && values.size() == 0;
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(connection());
        // Forward-only reading streams rows on SQLite. On PostgreSQL it would leave the connection
        // busy with the rest of the rows, and a count run while walking them would silently cut the
        // walk short; there every result is fetched whole instead (a day's reservations at most).
        query.setForwardOnly(!isPostgres());
        if (!direct && !query.prepare(sql)) {
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
    if (!(direct ? query.exec(sql) : query.exec())) {
        const QString failure = statementFailure(query.lastError());
        query.finish();
        throw DbError(failure);
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

Database::WriteTransaction::WriteTransaction(Database &db, Lock lock)
    : m_db(db)
{
    if (!m_db.isOpen()) {
        throw DbError(u"データベースが開かれていません。"_s);
    }
    if (!m_db.isPostgres()) {
        m_db.execRaw(u"BEGIN IMMEDIATE"_s);
        return;
    }
    m_db.execRaw(u"BEGIN ISOLATION LEVEL READ COMMITTED"_s);
    if (lock == Lock::Tables) {
        try {
            m_db.execRaw(u"LOCK TABLE YOYAKU, SETTING IN SHARE ROW EXCLUSIVE MODE"_s);
        } catch (const DbError &) {
            // The destructor does not run for a constructor that throws.
            QSqlQuery rollback(m_db.connection());
            rollback.exec(u"ROLLBACK"_s);
            throw;
        }
    }
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
