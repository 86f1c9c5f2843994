#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

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

// The same file read through the bare SQLite C API: the cost no layer above the engine can beat.
class SqliteFloor
{
public:
    explicit SqliteFloor(const QString &path);
    ~SqliteFloor();
    SqliteFloor(const SqliteFloor &) = delete;
    SqliteFloor &operator=(const SqliteFloor &) = delete;

    // Runs one statement with its values bound and reads every column of every row as the layer
    // above would (text as UTF-8, numbers as integers); returns the number of rows.
    qint64 query(const char *sql, std::initializer_list<QVariant> values = {});

private:
    sqlite3_stmt *statement(const char *sql);
    sqlite3 *m_db = nullptr;
    std::vector<std::pair<const char *, sqlite3_stmt *>> m_statements;
};

void printTable(const std::vector<Result> &results);
bool writeJson(const QString &path, const std::vector<Result> &results);

} // namespace qrb::bench
