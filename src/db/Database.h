#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <unordered_map>

namespace qrb {

// A failure of the database or of its file. what() is for logs; message() is the Japanese text a
// screen shows, with the engine's own reason where there is one.
class DbError : public std::runtime_error
{
public:
    explicit DbError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
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
    void DB_close();
    // Opens a file just made empty by createDatabaseFile, so that the schema can be written into it.
    void openNewFile(const QString &path);
    // Compacts the closed database file in place, through "TEMP.mdb" in its folder. Refuses while
    // another QRB has the file open; after a failure the file is as it was.
    void DB_compact(const QString &path);

    bool isOpen() const;
    QString path() const { return m_path; }

    // Runs one statement with its values bound in order; throws DbError on failure.
    // The returned query is positioned before the first row.
    QSqlQuery &run(const QString &sql, std::initializer_list<QVariant> values = {});
    // Runs a SELECT and calls `row` for every row, then releases the statement so that no read lock
    // outlives the call.
    void forEachRow(const QString &sql, std::initializer_list<QVariant> values,
                    const std::function<void(const QSqlQuery &)> &row);
    // The first column of the first row, or a Null QVariant when there is no row.
    QVariant scalar(const QString &sql, std::initializer_list<QVariant> values = {});
    // Runs an INSERT, UPDATE or DELETE and returns the number of rows it touched.
    int write(const QString &sql, std::initializer_list<QVariant> values = {});

    // Writes that belong together: begun at construction, undone at destruction unless committed.
    // On SQLite the write lock is taken at once (BEGIN IMMEDIATE), so two workstations drawing the
    // next reservation number wait for each other instead of both drawing it.
    class WriteTransaction final
    {
    public:
        explicit WriteTransaction(Database &db);
        ~WriteTransaction();
        WriteTransaction(const WriteTransaction &) = delete;
        WriteTransaction &operator=(const WriteTransaction &) = delete;
        void commit();

    private:
        Database &m_db;
        bool m_done = false;
    };

private:
    void openFile(const QString &path, bool requireTables);
    QSqlDatabase connection() const;
    void execRaw(const QString &sql);
    void releaseFileLock();

    QString m_connectionName;
    QString m_path;
    int m_lockFd = -1;
    std::unordered_map<QString, QSqlQuery> m_statements;
};

// Opens a SQLite file for read and write without ever creating it.
QSqlDatabase openSqliteFile(const QString &connectionName, const QString &path, bool create);

} // namespace qrb
