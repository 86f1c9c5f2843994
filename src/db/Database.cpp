#include "Database.h"

#include "DbInternal.h"
#include "History.h"
#include "ReservationNumbers.h"
#include "Schema.h"

#include <QDir>
#include <QSqlDriver>
#include <QSqlError>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// What a failure of the engine means for the desk, in its own words; empty where the engine's text
// says nothing more a receptionist could act on. SQLite gives its result code (a number), PostgreSQL
// its SQLSTATE (five characters).
QString meaningOf(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    const QString text = error.text();
    const auto says = [&](const char *words) { return text.contains(QLatin1StringView(words), Qt::CaseInsensitive); };
    if (code == u"42P01"_s || code == u"42703"_s || says("no such table") || says("no such column")
        || says("has no column named")) {
        return u"データベースに必要な表または列がありません。別のデータベースを開いているか、"
               u"データベースが壊れています。システムの管理者に連絡してください。"_s;
    }
    if (code == u"11"_s || code == u"26"_s || code == u"XX001"_s || code == u"XX002"_s) {
        return u"データベースが壊れているか、データベースではありません。"
               u"システムの管理者に連絡してください(バックアップから戻す必要があります)。"_s;
    }
    if (code == u"13"_s || code == u"53100"_s) {
        return u"ディスクがいっぱいで書き込めません。空きを作ってから、もう一度実行してください。"_s;
    }
    if (code == u"8"_s || code == u"42501"_s) {
        return u"データベースに書き込む権限がありません。システムの管理者に連絡してください。"_s;
    }
    if (code == u"10"_s || code == u"14"_s) {
        return u"データベースのファイルを読み書きできません(共有フォルダやディスクを確認してください)。"_s;
    }
    if (code == u"53300"_s || code == u"57P03"_s || code.startsWith(u"08"_s)) {
        return u"データベースサーバーに接続できません。しばらくしてから、もう一度実行してください。"_s;
    }
    if (code == u"28P01"_s || code == u"28000"_s) {
        return u"データベースサーバーの利用者名またはパスワードが正しくありません。"_s;
    }
    return {};
}

} // namespace

QString engineReason(const QSqlError &error)
{
    // What it means first, in Japanese; the engine's own words after it, for whoever looks into it.
    const QString text = error.text().trimmed();
    const QString meaning = meaningOf(error);
    if (text.isEmpty()) {
        return meaning.isEmpty() ? u"(理由不明)"_s : meaning;
    }
    return meaning.isEmpty() ? text : meaning + u"\n詳細: "_s + text;
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

DbError::DbError(const QString &message, bool outcomeUnknown)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_outcomeUnknown(outcomeUnknown)
{
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

Database::Database(QString connectionName)
    : m_connectionName(std::move(connectionName))
    , m_actor(workstationName())
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
    return m_sessionLost || (QSqlDatabase::contains(m_connectionName) && connection().isOpen());
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
    if (requireTables) {
        // Checked before anything is added, so that a database refused is left as it was.
        try {
            checkTableShapes(*this);
        } catch (const DbError &error) {
            DB_close();
            throw DbError(u"データベースを開けません。\n%1\n理由: %2"_s.arg(target.displayName(), error.message()));
        }
        try {
            ensureHistoryTable(*this);
        } catch (const DbError &error) {
            DB_close();
            throw DbError(u"データベースに操作履歴の表(RIREKI)を作れません。\n%1\n%2"_s.arg(target.displayName(),
                                                                                     error.message()));
        }
        // A database made before the numbers had a counter of their own gets it once; without it a
        // number freed by a cancel could be handed out again, so the database is not used.
        try {
            ensureReservationCounter(*this);
        } catch (const DbError &error) {
            DB_close();
            throw DbError(u"データベースに予約番号の表(QRB_YNO)を作れません。\n%1\n%2"_s.arg(target.displayName(),
                                                                                          error.message()));
        }
        // A database made before the searches read their own indexes gets them once. Without them (say
        // the server allows this user no CREATE) the searches still find, only slower.
        try {
            addSearchIndexesIfMissing(*this);
        } catch (const DbError &error) {
            qWarning("%s", error.what());
        }
    }
}

void Database::DB_close()
{
    m_statements.clear();
    m_sessionLost = false;
    m_inTransaction = false;
    if (QSqlDatabase::contains(m_connectionName)) {
        {
            QSqlDatabase db = connection();
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
    }
    releaseFileLock();
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

namespace {

// A statement that only reads: repeating it after the session was lost changes nothing.
bool onlyReads(const QString &sql)
{
    return sql.trimmed().startsWith(u"SELECT"_s, Qt::CaseInsensitive);
}

} // namespace

bool Database::sessionWasLost()
{
    if (!isPostgres()) {
        return false;
    }
    // Asking the server is the one sure test: libpq reports a lost session in several ways. A session
    // inside a failed transaction answers "current transaction is aborted", which means it is alive.
    QSqlQuery probe(connection());
    if (probe.exec(u"SELECT 1"_s) || probe.lastError().nativeErrorCode() == u"25P02"_s) {
        return false;
    }
    m_sessionLost = true;
    return true;
}

void Database::reconnectIfLost()
{
    if (!m_sessionLost) {
        return;
    }
    // The statements belong to the old session; a walk through rows still holds one of them, so a
    // session lost in the middle of a walk is taken up again only by the next action.
    if (m_walking > 0) {
        throw lostFailure(false);
    }
    m_statements.clear();
    {
        QSqlDatabase db = connection();
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
    openServer(*m_target.postgres, true);
    m_sessionLost = false;
    m_inTransaction = false;
}

DbError Database::lostFailure(bool outcomeUnknown) const
{
    const QString head = u"データベースサーバーとの接続が切れました(サーバーの再起動など)。"_s;
    if (outcomeUnknown) {
        return DbError(head + u"\nこの処理が保存されたかどうか分かりません。"
                              u"内容を確かめてから、必要ならもう一度実行してください。"_s,
                       true);
    }
    return DbError(head + u"\nこの処理は保存されていません。もう一度実行してください。"_s);
}

void Database::execRaw(const QString &sql, Outcome outcome)
{
    for (int attempt = 0;; ++attempt) {
        reconnectIfLost();
        QSqlQuery query(connection());
        if (query.exec(sql)) {
            return;
        }
        const QSqlError error = query.lastError();
        query = QSqlQuery();
        if (!sessionWasLost()) {
            throw DbError(statementFailure(error));
        }
        if (outcome == Outcome::NothingDone && attempt == 0) {
            continue;
        }
        throw lostFailure(outcome == Outcome::Unknown);
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

QSqlQuery &Database::run(const QString &sql, const QVariantList &values)
{
    // After a server restart the session is gone: the next statement reconnects first. A read outside
    // a transaction is tried once more on the new session; a write is never repeated unasked.
    const bool repeatable = !m_inTransaction && onlyReads(sql);
    for (int attempt = 0;; ++attempt) {
        reconnectIfLost();
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
                const QSqlError error = query.lastError();
                query = QSqlQuery();
                if (sessionWasLost() && repeatable && attempt == 0) {
                    continue;
                }
                if (m_sessionLost) {
                    throw lostFailure(false);
                }
                throw DbError(u"データベースの処理に失敗しました。\n理由: %1"_s.arg(engineReason(error)));
            }
            it = m_statements.emplace(sql, std::move(query)).first;
        }
        QSqlQuery &query = it->second;
        query.finish();
        int index = 0;
        for (const QVariant &value : values) {
            query.bindValue(index++, value);
        }
        if (direct ? query.exec(sql) : query.exec()) {
            return query;
        }
        const QSqlError error = query.lastError();
        query.finish();
        if (!sessionWasLost()) {
            throw DbError(statementFailure(error));
        }
        if (repeatable && attempt == 0) {
            continue;
        }
        // Inside a transaction the server undoes everything when the session ends; a single write
        // on its own may have been stored just before.
        throw lostFailure(!m_inTransaction && !onlyReads(sql));
    }
}

void Database::forEachRow(const QString &sql, const QVariantList &values,
                          const std::function<void(const QSqlQuery &)> &row)
{
    QSqlQuery &query = run(sql, values);
    struct Finish {
        QSqlQuery &q;
        int &walking;
        ~Finish()
        {
            q.finish();
            --walking;
        }
    } finish{query, ++m_walking};
    while (query.next()) {
        row(query);
    }
    if (query.lastError().isValid()) {
        throw DbError(u"データベースの読み込みに失敗しました。\n理由: %1"_s.arg(engineReason(query.lastError())));
    }
}

QVariant Database::scalar(const QString &sql, const QVariantList &values)
{
    QVariant result;
    forEachRow(sql, values, [&](const QSqlQuery &q) {
        if (!result.isValid()) {
            result = q.value(0);
        }
    });
    return result.isValid() ? result : QVariant();
}

int Database::write(const QString &sql, const QVariantList &values)
{
    QSqlQuery &query = run(sql, values);
    const int affected = query.numRowsAffected();
    query.finish();
    return affected;
}

namespace {

// SQLite lets a writer that finds the file locked sleep and try again, a few milliseconds at a time:
// fair between workstations, but qrb-web's workers, each with its own connection in one process, would
// sleep so between each other's bookings while the pages waiting behind them wait too. Writers of one
// process queue here instead and each goes on the moment the one before has committed; the file's lock
// still decides between processes. Recursive, so that a thread with a transaction open that begins
// another on a second connection meets SQLite's wait and its message, as before, not a deadlock.
std::recursive_timed_mutex &writersOf(const QString &path)
{
    static std::mutex guard;
    static std::map<QString, std::unique_ptr<std::recursive_timed_mutex>> byFile;
    const std::scoped_lock lock(guard);
    auto &writers = byFile[path];
    if (!writers) {
        writers = std::make_unique<std::recursive_timed_mutex>();
    }
    return *writers;
}

} // namespace

Database::WriteTransaction::WriteTransaction(Database &db, Lock lock, Flush flush)
    : m_db(db)
    , m_flush(flush)
{
    if (!m_db.isOpen()) {
        throw DbError(u"データベースが開かれていません。"_s);
    }
    if (!m_db.isPostgres()) {
        // Past the file's own wait the turn is not taken, and BEGIN meets the lock as it would alone.
        m_sameProcess = std::unique_lock(writersOf(m_db.m_target.sqlitePath), std::defer_lock);
        (void)m_sameProcess.try_lock_for(std::chrono::milliseconds(LockWaitMs));
        // In WAL mode NORMAL leaves the flush to the next FULL commit or checkpoint; the file stays whole.
        if (m_flush == Flush::Later) {
            m_db.execRaw(u"PRAGMA synchronous = NORMAL"_s, Outcome::NothingDone);
        }
        try {
            m_db.execRaw(u"BEGIN IMMEDIATE"_s, Outcome::NothingDone);
        } catch (const DbError &) {
            ended();
            throw;
        }
        m_db.m_inTransaction = true;
        return;
    }
    m_db.execRaw(u"BEGIN ISOLATION LEVEL READ COMMITTED"_s, Outcome::NothingDone);
    m_db.m_inTransaction = true;
    try {
        if (m_flush == Flush::Later) {
            m_db.execRaw(u"SET LOCAL synchronous_commit = off"_s, Outcome::NotStored);
        }
        if (lock == Lock::Tables) {
            m_db.execRaw(u"LOCK TABLE YOYAKU, SETTING IN SHARE ROW EXCLUSIVE MODE"_s, Outcome::NotStored);
        }
    } catch (const DbError &) {
        // The destructor does not run for a constructor that throws.
        rollback();
        throw;
    }
}

Database::WriteTransaction::~WriteTransaction()
{
    if (!m_done) {
        rollback();
    }
}

void Database::WriteTransaction::rollback()
{
    m_db.m_inTransaction = false;
    if (!m_db.m_sessionLost) {
        QSqlQuery rollback(m_db.connection());
        rollback.exec(u"ROLLBACK"_s);
    }
    ended();
}

void Database::WriteTransaction::commit()
{
    m_db.execRaw(u"COMMIT"_s, Outcome::Unknown); // on failure the destructor rolls back
    m_done = true;
    m_db.m_inTransaction = false;
    ended();
}

// The next write on this connection may be a reservation: it is flushed on its commit again (setting
// the flag touches no file and fails only with a connection gone, which no write then passes), and
// the next writer of this process takes its turn.
void Database::WriteTransaction::ended()
{
    if (m_flush == Flush::Later && !m_db.isPostgres()) {
        QSqlQuery full(m_db.connection());
        full.exec(u"PRAGMA synchronous = FULL"_s);
    }
    if (m_sameProcess.owns_lock()) {
        m_sameProcess.unlock();
    }
}

} // namespace qrb
