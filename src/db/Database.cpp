#include "Database.h"

#include "DbInternal.h"
#include "Schema.h"

#include <QDir>
#include <QSqlDriver>
#include <QSqlError>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace qrb {

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

DbError::DbError(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_message(message)
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
    if (requireTables) {
        // A database made before the telephone search folded numbers gets its indexes once. Without
        // them (say the server allows this user no CREATE) the search still finds, only slower.
        try {
            addTelephoneIndexesIfMissing(*this);
        } catch (const DbError &error) {
            qWarning("%s", error.what());
        }
    }
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
