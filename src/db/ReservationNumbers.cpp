#include "ReservationNumbers.h"

#include "Database.h"
#include "DbInternal.h"

#include <QDir>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// The highest number found in the tables a database has: the counter, the reservations, and the
// history, which remembers the numbers of reservations cancelled or deleted before the counter existed.
QString highestSql(bool counter, bool history)
{
    QStringList parts{u"SELECT COALESCE(MAX(YNO), 0) AS N FROM YOYAKU"_s};
    if (counter) {
        parts << u"SELECT COALESCE(MAX(LAST), 0) FROM QRB_YNO"_s;
    }
    if (history) {
        parts << u"SELECT COALESCE(MAX(YNO), 0) FROM RIREKI"_s;
    }
    return u"SELECT MAX(N) FROM ("_s + parts.join(u" UNION ALL "_s) + u") AS H"_s;
}

bool hasCounter(Database &db)
{
    return db.isPostgres() ? db.scalar(u"SELECT to_regclass('qrb_yno') IS NOT NULL"_s).toBool()
                           : db.scalar(u"SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' "
                                       "AND name = 'QRB_YNO' COLLATE NOCASE"_s)
                                     .toInt() > 0;
}

// Sets the counter to `number`; a counter whose row someone removed gets it back.
void setCounter(Database &db, qint64 number)
{
    if (db.write(u"UPDATE QRB_YNO SET LAST = ?"_s, {number}) == 0) {
        db.write(u"INSERT INTO QRB_YNO (LAST) VALUES (?)"_s, {number});
    }
}

// What `sql` reads from the first column of its first row, on a connection opened by hand.
qint64 readNumber(const QSqlDatabase &connection, const QString &sql, QString &failure)
{
    QSqlQuery query(connection);
    if (!query.exec(sql) || !query.next()) {
        failure = query.lastError().isValid() ? engineReason(query.lastError()) : u"(結果がありません)"_s;
        return 0;
    }
    return query.value(0).toLongLong();
}

} // namespace

void createReservationCounter(Database &db)
{
    db.write(u"CREATE TABLE QRB_YNO (LAST INTEGER NOT NULL)"_s);
    db.write(u"INSERT INTO QRB_YNO (LAST) "_s + highestSql(false, true));
}

void ensureReservationCounter(Database &db)
{
    if (hasCounter(db)) {
        return;
    }
    // Under the write lock, and asked again there: another workstation may have just made it, and no
    // booking can slip in between the seed and the table.
    Database::WriteTransaction transaction(db);
    if (!hasCounter(db)) {
        createReservationCounter(db);
    }
    transaction.commit();
}

qint64 highestReservationNumber(Database &db)
{
    return db.scalar(highestSql(true, false)).toLongLong();
}

int drawReservationNumber(Database &db)
{
    // Counted on in 64 bits: SQLite would store the number after the largest 32-bit one as its
    // negative, and PostgreSQL's column cannot hold it.
    const qint64 next = highestReservationNumber(db) + 1;
    if (next > std::numeric_limits<qint32>::max()) {
        throw DbError(u"予約番号が上限(%1)に達したため、予約を登録できません。予約データは変わっていません。\n"
                      u"システムの管理者に連絡してください。"_s.arg(std::numeric_limits<qint32>::max()));
    }
    setCounter(db, next);
    return static_cast<int>(next);
}

void carryReservationNumbersForward(Database &restored, const QString &replaced)
{
    const QString name = u"qrb-replaced-numbers"_s;
    QString failure;
    qint64 replacedHighest = 0;
    {
        // Read-write, so that whatever a crash left in the file's log or journal is taken into account.
        QSqlDatabase connection = openSqliteFile(name, replaced, false);
        if (!connection.isOpen()) {
            failure = engineReason(connection.lastError());
        } else {
            const auto has = [&](const char *table) {
                return failure.isEmpty() &&
                       readNumber(connection,
                                  u"SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '%1' "
                                  "COLLATE NOCASE"_s.arg(QLatin1StringView(table)),
                                  failure) > 0;
            };
            const bool counter = has("QRB_YNO");
            const bool history = has("RIREKI");
            if (failure.isEmpty()) {
                replacedHighest = readNumber(connection, highestSql(counter, history), failure);
            }
        }
        connection.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty()) {
        throw DbError(
            u"置き換えるデータベースの予約番号を読めません。番号の重複を防ぐため、復元しません。\n%1\n理由: %2"_s.arg(
                QDir::toNativeSeparators(replaced), failure));
    }
    const qint64 own = highestReservationNumber(restored);
    setCounter(restored, std::max(own, replacedHighest));
}

} // namespace qrb
