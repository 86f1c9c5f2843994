#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct pg_conn;

namespace qrb::bench {

struct Timing {
    double medianMs = 0;
    double maxMs = 0;
};

// Runs `work` once to warm the caches, then `runs` times, and returns the median and the maximum.
Timing measure(int runs, const std::function<void()> &work);

// One line of the result table.
struct Result {
    QString operation;
    qint64 rows = 0;
    Timing ours;
    std::optional<Timing> floor;
    std::optional<double> ratioOverride; // for comparisons against another baseline than the floor
    QString note;
};

// The same statements run through the bare client library of the engine: the cost no layer above it
// can beat.
class Floor
{
public:
    virtual ~Floor() = default;
    // Runs one statement ("?" for each value) with its values bound and reads every column of every
    // row as the layer above would (text as UTF-8); returns the number of rows.
    virtual qint64 query(const char *sql, const QVariantList &values = {}) = 0;
};

// The SQLite file through the SQLite C API.
class SqliteFloor final : public Floor
{
public:
    explicit SqliteFloor(const QString &path);
    ~SqliteFloor() override;
    SqliteFloor(const SqliteFloor &) = delete;
    SqliteFloor &operator=(const SqliteFloor &) = delete;
    qint64 query(const char *sql, const QVariantList &values = {}) override;

private:
    sqlite3_stmt *statement(const char *sql);
    sqlite3 *m_db = nullptr;
    std::map<std::string, sqlite3_stmt *> m_statements;
};

// The PostgreSQL database through libpq: each statement prepared once on the server, as the Qt driver
// does, then executed with its values; the session runs without JIT, as QRB's own.
class PgFloor final : public Floor
{
public:
    explicit PgFloor(const QString &connInfo);
    ~PgFloor() override;
    PgFloor(const PgFloor &) = delete;
    PgFloor &operator=(const PgFloor &) = delete;
    qint64 query(const char *sql, const QVariantList &values = {}) override;

private:
    std::string statement(const char *sql);
    pg_conn *m_conn = nullptr;
    std::map<std::string, std::string> m_statements; // text → name on the server
};

void printTable(const std::vector<Result> &results);
bool writeJson(const QString &path, const std::vector<Result> &results);

} // namespace qrb::bench
