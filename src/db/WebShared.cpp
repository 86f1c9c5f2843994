#include "WebShared.h"

#include <limits>

#include "Database.h"

#include <QRandomGenerator>
#include <QSqlQuery>

#include <optional>

using namespace Qt::StringLiterals;

namespace qrb {

QByteArray prepareWebShared(Database &db, const std::function<QByteArray()> &fresh)
{
    {
        // Under the tables' write lock, so that two processes starting at once on PostgreSQL do not
        // race each other into CREATE TABLE.
        Database::WriteTransaction transaction(db);
        db.write(u"CREATE TABLE IF NOT EXISTS WEBKEY (KID INTEGER NOT NULL PRIMARY KEY, SKEY TEXT NOT NULL)"_s);
        db.write(u"CREATE TABLE IF NOT EXISTS WEBLIMIT (LKEY TEXT NOT NULL PRIMARY KEY, WSTART BIGINT NOT NULL, "
                 "CNT INTEGER NOT NULL, LOCKED BIGINT NOT NULL)"_s);
        transaction.commit();
    }
    const QVariant stored = db.scalar(u"SELECT SKEY FROM WEBKEY WHERE KID = 1"_s);
    if (!stored.isNull()) {
        return stored.toString().toLatin1();
    }
    Database::WriteTransaction transaction(db, Database::WriteTransaction::Lock::NoTables);
    db.write(u"INSERT INTO WEBKEY (KID, SKEY) VALUES (1, ?) ON CONFLICT (KID) DO NOTHING"_s,
             {QString::fromLatin1(fresh())});
    const QByteArray key = db.scalar(u"SELECT SKEY FROM WEBKEY WHERE KID = 1"_s).toString().toLatin1();
    transaction.commit();
    return key;
}

namespace {

struct Row {
    qint64 start = 0;
    int count = 0;
    qint64 locked = 0;
};

std::optional<Row> row(Database &db, const QString &key)
{
    std::optional<Row> found;
    db.forEachRow(u"SELECT WSTART, CNT, LOCKED FROM WEBLIMIT WHERE LKEY = ?"_s, {key}, [&](const QSqlQuery &q) {
        found = Row{q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toLongLong()};
    });
    return found;
}

// One more in the tally's window, or 1 in a new window when the last one has passed.
Row count(Database &db, const Tally &tally, qint64 nowMs)
{
    const qint64 passed = nowMs - tally.windowMs;
    db.write(u"INSERT INTO WEBLIMIT (LKEY, WSTART, CNT, LOCKED) VALUES (?, ?, 1, 0) ON CONFLICT (LKEY) DO UPDATE SET "
             "CNT = CASE WHEN WEBLIMIT.WSTART <= ? THEN 1 ELSE WEBLIMIT.CNT + 1 END, "
             "WSTART = CASE WHEN WEBLIMIT.WSTART <= ? THEN ? ELSE WEBLIMIT.WSTART END"_s,
             {tally.key, nowMs, passed, passed, nowMs});
    return row(db, tally.key).value_or(Row{});
}

qint64 lockWait(Database &db, const QStringList &lockKeys, qint64 nowMs)
{
    qint64 wait = 0;
    for (const QString &key : lockKeys) {
        if (const auto r = row(db, key)) {
            wait = qMax(wait, r->locked - nowMs);
        }
    }
    return wait;
}

} // namespace

qint64 countAttempt(Database &db, const QList<Tally> &tallies, const QStringList &lockKeys, qint64 nowMs,
                    QString *refusedBy)
{
    Database::WriteTransaction transaction(db, Database::WriteTransaction::Lock::NoTables,
                                           Database::WriteTransaction::Flush::Later);
    qint64 wait = 0;
    const auto refuse = [&](qint64 ms, const QString &key) {
        if (ms > wait) {
            wait = ms;
            if (refusedBy) {
                *refusedBy = key;
            }
        }
    };
    for (const QString &key : lockKeys) {
        if (const auto r = row(db, key)) {
            refuse(r->locked - nowMs, key);
        }
    }
    for (const Tally &tally : tallies) {
        if (tally.checkedOnly) {
            const auto r = row(db, tally.key);
            if (r && r->start > nowMs - tally.windowMs && r->count >= tally.allowed) {
                refuse(r->start + tally.windowMs - nowMs, tally.key);
            }
            continue;
        }
        const Row r = count(db, tally, nowMs);
        if (r.count > tally.allowed) {
            refuse(r.start + tally.windowMs - nowMs, tally.key);
        }
    }
    if (wait > 0) {
        return wait; // rolled back: a refused attempt counts nothing
    }
    // Counters whose window and lock passed long ago hold nothing; now and then they go.
    if (QRandomGenerator::global()->bounded(64) == 0) {
        constexpr qint64 Day = 24 * 3600 * 1000;
        db.write(u"DELETE FROM WEBLIMIT WHERE WSTART < ? AND LOCKED < ?"_s, {nowMs - Day, nowMs});
    }
    transaction.commit();
    return 0;
}

void countDone(Database &db, const Tally &tally, qint64 nowMs)
{
    Database::WriteTransaction transaction(db, Database::WriteTransaction::Lock::NoTables,
                                           Database::WriteTransaction::Flush::Later);
    count(db, tally, nowMs);
    transaction.commit();
}

int countFailure(Database &db, const QList<Tally> &tallies, qint64 lockMs, qint64 nowMs)
{
    Database::WriteTransaction transaction(db, Database::WriteTransaction::Lock::NoTables);
    int left = std::numeric_limits<int>::max();
    for (const Tally &tally : tallies) {
        const int counted = count(db, tally, nowMs).count;
        if (counted >= tally.allowed) {
            db.write(u"UPDATE WEBLIMIT SET LOCKED = ?, WSTART = ?, CNT = 0 WHERE LKEY = ?"_s,
                     {nowMs + lockMs, nowMs, tally.key});
        }
        left = qMin(left, qMax(0, tally.allowed - counted));
    }
    transaction.commit();
    return left;
}

qint64 lockedFor(Database &db, const QStringList &lockKeys, qint64 nowMs)
{
    return qMax<qint64>(0, lockWait(db, lockKeys, nowMs));
}

} // namespace qrb
