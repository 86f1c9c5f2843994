#include "Harness.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdexcept>

namespace qrb::bench {

Timing measure(int runs, const std::function<void()> &work)
{
    work();
    std::vector<double> times;
    times.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    return {median, times.back()};
}

SqliteFloor::SqliteFloor(const QString &path)
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(m_db));
    }
}

SqliteFloor::~SqliteFloor()
{
    for (auto &[sql, stmt] : m_statements) {
        sqlite3_finalize(stmt);
    }
    sqlite3_close(m_db);
}

sqlite3_stmt *SqliteFloor::statement(const char *sql)
{
    const auto known = m_statements.find(sql);
    if (known != m_statements.end()) {
        return known->second;
    }
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(m_db));
    }
    m_statements.emplace(sql, stmt);
    return stmt;
}

qint64 SqliteFloor::query(const char *sql, const QVariantList &values)
{
    sqlite3_stmt *stmt = statement(sql);
    sqlite3_reset(stmt);
    int index = 1;
    for (const QVariant &value : values) {
        if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
            sqlite3_bind_int64(stmt, index, value.toLongLong());
        } else {
            const QByteArray text = value.toString().toUtf8();
            sqlite3_bind_text(stmt, index, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
        ++index;
    }
    qint64 rows = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const int columns = sqlite3_column_count(stmt);
        for (int c = 0; c < columns; ++c) {
            if (sqlite3_column_type(stmt, c) == SQLITE_TEXT) {
                const auto *text = sqlite3_column_text(stmt, c);
                (void)QString::fromUtf8(reinterpret_cast<const char *>(text), sqlite3_column_bytes(stmt, c));
            } else {
                (void)sqlite3_column_int64(stmt, c);
            }
        }
        ++rows;
    }
    if (rc != SQLITE_DONE) {
        throw std::runtime_error(sqlite3_errmsg(m_db));
    }
    sqlite3_reset(stmt);
    return rows;
}

PgFloor::PgFloor(const QString &connInfo)
    : m_conn(PQconnectdb(connInfo.toUtf8().constData()))
{
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const std::string reason = PQerrorMessage(m_conn);
        PQfinish(m_conn);
        throw std::runtime_error(reason);
    }
    PQclear(PQexec(m_conn, "SET jit = off"));
}

PgFloor::~PgFloor()
{
    PQfinish(m_conn);
}

std::string PgFloor::statement(const char *sql)
{
    const auto known = m_statements.find(sql);
    if (known != m_statements.end()) {
        return known->second;
    }
    // "?" becomes "$1", "$2", … outside quoted texts, as the Qt driver rewrites it.
    std::string text;
    int number = 0;
    bool quoted = false;
    for (const char *c = sql; *c != 0; ++c) {
        if (*c == '\'') {
            quoted = !quoted;
        }
        if (*c == '?' && !quoted) {
            text += '$' + std::to_string(++number);
        } else {
            text += *c;
        }
    }
    const std::string name = "floor" + std::to_string(m_statements.size());
    PGresult *prepared = PQprepare(m_conn, name.c_str(), text.c_str(), 0, nullptr);
    const bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
    PQclear(prepared);
    if (!ok) {
        throw std::runtime_error(PQerrorMessage(m_conn));
    }
    m_statements.emplace(sql, name);
    return name;
}

qint64 PgFloor::query(const char *sql, const QVariantList &values)
{
    const std::string name = statement(sql);
    std::vector<QByteArray> texts;
    std::vector<const char *> params;
    texts.reserve(size_t(values.size()));
    for (const QVariant &value : values) {
        texts.push_back(value.toString().toUtf8());
        params.push_back(value.isNull() ? nullptr : texts.back().constData());
    }
    PGresult *result =
        PQexecPrepared(m_conn, name.c_str(), int(params.size()), params.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        const std::string reason = PQresultErrorMessage(result);
        PQclear(result);
        throw std::runtime_error(reason);
    }
    const int rows = PQntuples(result);
    const int columns = PQnfields(result);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            (void)QString::fromUtf8(PQgetvalue(result, r, c), PQgetlength(result, r, c));
        }
    }
    PQclear(result);
    return rows;
}

namespace {

std::optional<double> ratioOf(const Result &r)
{
    if (r.ratioOverride) {
        return r.ratioOverride;
    }
    if (r.floor && r.floor->medianMs > 0) {
        return r.ours.medianMs / r.floor->medianMs;
    }
    return std::nullopt;
}

} // namespace

void printTable(const std::vector<Result> &results)
{
    QTextStream out(stdout);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6  %7\n")
               .arg(QStringLiteral("operation"), -44)
               .arg(QStringLiteral("rows"), 9)
               .arg(QStringLiteral("median ms"), 10)
               .arg(QStringLiteral("max ms"), 10)
               .arg(QStringLiteral("floor ms"), 10)
               .arg(QStringLiteral("ratio"), 8)
               .arg(QStringLiteral("note"));
    for (const Result &r : results) {
        const auto ratio = ratioOf(r);
        out << QStringLiteral("%1 %2 %3 %4 %5 %6  %7\n")
                   .arg(r.operation, -44)
                   .arg(r.rows, 9)
                   .arg(r.ours.medianMs, 10, 'f', 3)
                   .arg(r.ours.maxMs, 10, 'f', 3)
                   .arg(r.floor ? QString::number(r.floor->medianMs, 'f', 3) : QStringLiteral("-"), 10)
                   .arg(ratio ? QString::number(*ratio, 'f', 2) : QStringLiteral("-"), 8)
                   .arg(r.note);
    }
    out.flush();
}

bool writeJson(const QString &path, const std::vector<Result> &results)
{
    QJsonArray operations;
    for (const Result &r : results) {
        const auto ratio = ratioOf(r);
        QJsonObject o;
        o[QStringLiteral("operation")] = r.operation;
        o[QStringLiteral("rows")] = r.rows;
        o[QStringLiteral("median_ms")] = r.ours.medianMs;
        o[QStringLiteral("max_ms")] = r.ours.maxMs;
        o[QStringLiteral("floor_ms")] = r.floor ? QJsonValue(r.floor->medianMs) : QJsonValue();
        o[QStringLiteral("ratio")] = ratio ? QJsonValue(*ratio) : QJsonValue();
        operations.append(o);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("operations"), operations}}).toJson());
    return true;
}

} // namespace qrb::bench
