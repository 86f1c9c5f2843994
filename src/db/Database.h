#pragma once

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <unordered_map>

namespace qrb {

// A failure of the database or of its file. what() is for logs; message() is the Japanese text a
// screen shows, with the engine's own reason where there is one.
class DbError : public std::runtime_error
{
public:
    explicit DbError(const QString &message, bool outcomeUnknown = false);
    QString message() const { return m_message; }
    // The connection ended after a write was sent and before its answer came: the write may have been
    // stored. What the user is told must lead with that, never with "not stored".
    bool outcomeUnknown() const { return m_outcomeUnknown; }

private:
    QString m_message;
    bool m_outcomeUnknown = false;
};

// A PostgreSQL server and database shared by several workstations.
struct PgServer {
    QString host;     // name or address; a folder beginning with "/" is the folder of a unix socket
    int port = 0;     // 0: the client library's default (5432)
    QString dbname;
    QString user;
    QString password; // empty: the client library looks in the user's password file (~/.pgpass)
    // Encryption of the connection, as the client library takes it: empty (the library's default,
    // which falls back to clear text), "require", "verify-ca" or "verify-full" (encrypted, and the
    // server's certificate checked against sslrootcert, with verify-full also against the host name).
    QString sslmode;
    QString sslrootcert; // the certificate of the authority that signed the server's; empty: ~/.postgresql/root.crt

    // "host=… port=… dbname=… user=…", the form psql and qrb-initdb --pg take; the password is
    // written only when there is one. Values with blanks or quotes are quoted.
    QString connInfo() const;
    // Reads that form back. Only the keys above are known; anything else is refused with a DbError,
    // and so is an sslmode the client library does not know.
    static PgServer fromConnInfo(const QString &text);
};

// Where the reservations live: a SQLite file on this workstation (the default), or a PostgreSQL server.
struct DbTarget {
    QString sqlitePath;
    std::optional<PgServer> postgres;

    static DbTarget sqlite(const QString &path);
    static DbTarget server(const PgServer &server);
    bool isPostgres() const { return postgres.has_value(); }
    // For messages: the file, or the database and server.
    QString displayName() const;
};

// The one open reservation database of the program (DB_open / DB_close / DB_compact) and the way
// every query reaches it: prepared statements, every value bound, failures thrown as DbError.
class Database final
{
public:
    explicit Database(QString connectionName = QStringLiteral("qrb"));
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens an existing database file; a missing file is an error and creates nothing, because a
    // fresh empty file would split the clinic's reservations in two.
    void DB_open(const QString &path);
    // The same for either engine. On PostgreSQL both tables must exist in the database; a database
    // without them is refused, never filled.
    void DB_open(const DbTarget &target);
    void DB_close();
    // Opens a target without requiring the tables: the new file, or an existing but still empty
    // PostgreSQL database, for writing the schema into it.
    void openEmpty(const DbTarget &target);
    // Compacts the closed database file in place, through "TEMP.mdb" in its folder. Refuses while
    // another QRB has the file open; after a failure the file is as it was.
    void DB_compact(const QString &path);
    // The same for either engine. On PostgreSQL the server's VACUUM (with ANALYZE) runs on both tables:
    // it frees the room of deleted reservations for reuse while other workstations go on working, so
    // there is nothing to refuse and no copy to make. The database must be closed here as well, so
    // that the maintenance screen's steps are the same on both engines.
    void DB_compact(const DbTarget &target);

    bool isOpen() const;
    // The SQLite file opened last (kept after DB_close); empty on PostgreSQL.
    QString path() const { return m_path; }
    // What was opened last (kept after DB_close, so that the maintenance screen can reopen it).
    const DbTarget &target() const { return m_target; }
    bool isPostgres() const { return m_target.isPostgres(); }

    // Who is writing, for the history of changes: the workstation's host name and user unless set
    // otherwise (a tool's name; for qrb-web "web" and the client's address, set for each request).
    void setActor(const QString &where) { m_actor = where; }
    const QString &actor() const { return m_actor; }

    // A condition matching `column` against a bound LIKE pattern (escape character "\"), ignoring
    // the case of ASCII letters as the desk expects, written so that the engine can use the column's
    // search index for a pattern that starts with a fixed text.
    QString likeIgnoringCase(const QString &column) const;
    // A condition comparing `column` with a bound value, ignoring the case of ASCII letters, that
    // uses the column's index.
    QString equalsIgnoringCase(const QString &column) const;
    // A condition true where `column` holds a bound text anywhere, taken literally and with case.
    QString containsText(const QString &column) const;

    // Runs one statement with its values bound in order; throws DbError on failure.
    // The returned query is positioned before the first row. On PostgreSQL a session the server ended
    // (a restart) is opened anew before the next statement; a read outside a transaction that met the
    // end is run once more, while a write is reported as not stored, or, where the end may have come
    // just after the server stored it, as not known to be stored; it is never repeated unasked.
    QSqlQuery &run(const QString &sql, const QVariantList &values = {});
    // Runs a SELECT and calls `row` for every row, then releases the statement so that no read lock
    // outlives the call.
    void forEachRow(const QString &sql, const QVariantList &values,
                    const std::function<void(const QSqlQuery &)> &row);
    // The first column of the first row, or a Null QVariant when there is no row.
    QVariant scalar(const QString &sql, const QVariantList &values = {});
    // Runs an INSERT, UPDATE or DELETE and returns the number of rows it touched.
    int write(const QString &sql, const QVariantList &values = {});

    // Writes that belong together: begun at construction, undone at destruction unless committed.
    // The write lock is taken at once, so two workstations drawing the next reservation number wait
    // for each other instead of both drawing it: on SQLite BEGIN IMMEDIATE; on PostgreSQL both tables
    // are locked in SHARE ROW EXCLUSIVE mode, which lets every workstation go on reading but admits
    // one writer at a time, and each statement after the lock sees what the previous writer committed
    // (READ COMMITTED), so the next reservation number is never drawn twice. Writes outside a
    // transaction wait for the lock as well.
    class WriteTransaction final
    {
    public:
        // NoTables is for writing the schema itself, before the tables exist to be locked.
        enum class Lock { Tables, NoTables };
        // A reservation is on the disk when its commit returns. What only counts attempts may wait for
        // the next flush: a power cut forgets a few counts, and the pages go on meanwhile.
        enum class Flush { OnCommit, Later };
        explicit WriteTransaction(Database &db, Lock lock = Lock::Tables, Flush flush = Flush::OnCommit);
        ~WriteTransaction();
        WriteTransaction(const WriteTransaction &) = delete;
        WriteTransaction &operator=(const WriteTransaction &) = delete;
        void commit();

    private:
        void rollback();
        void ended();
        Database &m_db;
        Flush m_flush;
        std::unique_lock<std::recursive_timed_mutex> m_sameProcess;
        bool m_done = false;
    };

private:
    // What a statement that was cut off by the end of the session may have done.
    enum class Outcome {
        NothingDone, // it may be repeated on a new session
        NotStored,   // its transaction is gone: nothing of it was stored
        Unknown,     // a commit, or a write on its own: it may have been stored just before
    };
    // After a failed statement on PostgreSQL: whether the session has ended (the server restarted, or
    // an administrator ended it). The next statement then connects again before it runs.
    bool sessionWasLost();
    void reconnectIfLost();
    DbError lostFailure(bool outcomeUnknown) const;
    void open(const DbTarget &target, bool requireTables);
    void openFile(const QString &path, bool requireTables);
    void openServer(const PgServer &server, bool requireTables);
    void compactFile(const QString &path);
    void vacuumServer(const PgServer &server);
    QSqlDatabase connection() const;
    void execRaw(const QString &sql, Outcome outcome);
    void releaseFileLock();

    QString m_connectionName;
    QString m_actor;
    DbTarget m_target;
    QString m_path;
    int m_lockFd = -1;
    bool m_sessionLost = false;
    bool m_inTransaction = false;
    int m_walking = 0; // forEachRow walks under way
    QElapsedTimer m_lockWait; // how long the connection has been waiting for another's write lock
    std::unordered_map<QString, QSqlQuery> m_statements;
};

// Opens a SQLite file for read and write without ever creating it.
QSqlDatabase openSqliteFile(const QString &connectionName, const QString &path, bool create);

// Connects to a PostgreSQL database and sets the session up as QRB needs it. Returns the
// connection, open, or throws DbError with the server's reason (the connection is then removed).
QSqlDatabase connectPgServer(const QString &connectionName, const PgServer &server);

} // namespace qrb
