#include "WebBooking.h"

#include "Database.h"
#include "History.h"
#include "Search.h"
#include "shared/Dates.h"

#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb {

void prepareWebBooking(Database &db)
{
    Database::WriteTransaction transaction(db);
    db.write(u"CREATE TABLE IF NOT EXISTS WEBYOYAKU (YNO INTEGER NOT NULL PRIMARY KEY, YDATE TEXT NOT NULL, "
             "YTIME TEXT NOT NULL, KNM TEXT NOT NULL, YNO2 INTEGER, YDATE2 TEXT, YTIME2 TEXT, "
             "CODEHASH TEXT NOT NULL, NONCE TEXT NOT NULL UNIQUE)"_s);
    // The second dose's number is checked and cancelled like the first's.
    db.write(u"CREATE INDEX IF NOT EXISTS WEBYOYAKU_YNO2 ON WEBYOYAKU (YNO2)"_s);
    // Every page asks for the latest change of the places: found in the index, however long the history.
    db.write(u"CREATE INDEX IF NOT EXISTS RIREKI_HWHAT ON RIREKI (HWHAT, HNO)"_s);
    transaction.commit();
}

CapacitiesVersion capacitiesVersion(Database &db)
{
    CapacitiesVersion version;
    db.forEachRow(
        u"SELECT (SELECT MAX(HNO) FROM RIREKI WHERE HWHAT = ?), (SELECT MAX(HNO) FROM RIREKI WHERE HWHAT = ?)"_s,
        {int(HistoryKind::CapacitiesSaved), int(HistoryKind::Restored)}, [&](const QSqlQuery &q) {
            version = {q.value(0).isNull() ? -1 : q.value(0).toLongLong(),
                       q.value(1).isNull() ? -1 : q.value(1).toLongLong()};
        });
    return version;
}

QHash<QString, int> reservationCountsBetween(Database &db, QDate from, QDate to)
{
    QHash<QString, int> counts;
    db.forEachRow(u"SELECT YDATE, YTIME, COUNT(*) FROM YOYAKU WHERE YDATE >= ? AND YDATE <= ? GROUP BY YDATE, YTIME"_s,
                  {dateKey(from), dateKey(to)}, [&](const QSqlQuery &q) {
                      counts.insert(q.value(0).toString() + u' ' + q.value(1).toString(), q.value(2).toInt());
                  });
    return counts;
}

int onlinePlaces(int places, int share)
{
    return places * share / 100;
}

namespace {

// Whether the slot's online share is taken; every reservation counts against it, the desk's too.
bool shareTaken(Database &db, const BookingRecord &r, int share)
{
    const auto date = dateFromKey(r.ydate);
    const int online = date ? onlinePlaces(placesInSlot(db, *date, r.ytime), share) : 0;
    return YOYAKU_cnt(db, r.ydate, r.ytime) + 1 > online;
}

// The patient's own reservation in the slot: her name under her telephone number. A namesake's is
// none of her business, and no answer may tell that it is there.
bool ownInSlot(Database &db, const BookingRecord &r, const QString &phoneDigits)
{
    return db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE YDATE = ? AND YTIME = ? AND KNM = ? "
                     "AND REPLACE(REPLACE(TEL1, '-', ''), ' ', '') = ?"_s,
                     {r.ydate, r.ytime, r.knm, phoneDigits})
               .toInt() > 0;
}

OnlineResult outcome(OnlineOutcome what)
{
    OnlineResult result;
    result.outcome = what;
    return result;
}

} // namespace

OnlineResult bookOnline(Database &db, const OnlineBooking &b)
{
    Database::WriteTransaction transaction(db);
    OnlineResult earlier;
    db.forEachRow(u"SELECT YNO, YNO2 FROM WEBYOYAKU WHERE NONCE = ?"_s, {QString::fromLatin1(b.nonce)},
                  [&](const QSqlQuery &q) {
                      earlier.outcome = OnlineOutcome::AlreadySubmitted;
                      earlier.yno = q.value(0).toInt();
                      earlier.secondYno = q.value(1).toInt();
                  });
    if (earlier.outcome == OnlineOutcome::AlreadySubmitted) {
        return earlier;
    }
    if (ownInSlot(db, b.first, b.phoneDigits) || (b.second && ownInSlot(db, *b.second, b.phoneDigits))) {
        return outcome(OnlineOutcome::AlreadyBooked);
    }
    const int held = db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE YDATE >= ? "
                               "AND REPLACE(REPLACE(TEL1, '-', ''), ' ', '') = ?"_s,
                               {dateKey(b.today), b.phoneDigits})
                         .toInt();
    if (held + (b.second ? 2 : 1) > b.perPhone) {
        return outcome(OnlineOutcome::PhoneLimit);
    }
    // A share below the whole is counted here, under the write lock; the whole slot is counted where
    // every booking is.
    if (b.share < 100 && shareTaken(db, b.first, b.share)) {
        return outcome(OnlineOutcome::SlotFull);
    }
    if (b.second && b.share < 100 && shareTaken(db, *b.second, b.share)) {
        return outcome(OnlineOutcome::SecondSlotFull);
    }
    OnlineResult result;
    const StoredBooking first = registerReservationInTransaction(db, b.first, WhenFull::Refuse, SameName::AddAnother);
    if (first.slotFull) {
        return outcome(OnlineOutcome::SlotFull);
    }
    result.yno = first.yno;
    if (b.second) {
        const StoredBooking second = registerReservationInTransaction(db, *b.second, WhenFull::Refuse, SameName::AddAnother);
        if (second.slotFull) {
            return outcome(OnlineOutcome::SecondSlotFull);
        }
        result.secondYno = second.yno;
    }
    // A row left behind by a web booking whose number the desk deleted and has now handed out again.
    db.write(u"DELETE FROM WEBYOYAKU WHERE YNO = ?"_s, {result.yno});
    const QVariant none(QMetaType::fromType<int>());
    db.write(u"INSERT INTO WEBYOYAKU (YNO, YDATE, YTIME, KNM, YNO2, YDATE2, YTIME2, CODEHASH, NONCE) "
             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"_s,
             {result.yno, b.first.ydate, b.first.ytime, b.first.knm, b.second ? QVariant(result.secondYno) : none,
              b.second ? b.second->ydate : QString(), b.second ? b.second->ytime : QString(),
              QString::fromLatin1(b.codeHash), QString::fromLatin1(b.nonce)});
    if (b.alsoStore) {
        b.alsoStore(db, result);
    }
    transaction.commit();
    return result;
}

namespace {

// The condition that finds the rows of a web booking only as they were booked: a number the desk
// deleted and gave to another patient names another slot or name.
const QString BookedRows = u"FROM YOYAKU Y JOIN WEBYOYAKU W ON W.YNO = ? AND ("
                           "(Y.YNO = W.YNO AND Y.YDATE = W.YDATE AND Y.YTIME = W.YTIME AND Y.KNM = W.KNM) OR "
                           "(Y.YNO = W.YNO2 AND Y.YDATE = W.YDATE2 AND Y.YTIME = W.YTIME2 AND Y.KNM = W.KNM))"_s;

// YNO, YNO2, CODEHASH of WEBYOYAKU.
OnlineReservation webRow(const QSqlQuery &q)
{
    OnlineReservation found;
    found.yno = q.value(0).toInt();
    found.secondYno = q.value(1).toInt();
    found.codeHash = q.value(2).toString().toLatin1();
    return found;
}

} // namespace

std::optional<OnlineReservation> onlineBookingOfNumber(Database &db, int yno)
{
    // Exactly one row comes back either way (a blank one when the number is not the web's), so that
    // the server does the same work for a number that exists as for one that does not.
    std::optional<OnlineReservation> found;
    db.forEachRow(u"SELECT YNO, YNO2, CODEHASH FROM (SELECT YNO, YNO2, CODEHASH, 0 AS K FROM WEBYOYAKU "
                  "WHERE YNO = ? OR YNO2 = ? UNION ALL SELECT 0, 0, '', 1) AS W ORDER BY K, YNO DESC LIMIT 1"_s,
                  {yno, yno}, [&](const QSqlQuery &q) {
                      found = webRow(q);
                  });
    return found && found->yno > 0 ? found : std::nullopt;
}

std::optional<OnlineReservation> onlineBookingOfPage(Database &db, const QByteArray &nonce)
{
    std::optional<OnlineReservation> found;
    db.forEachRow(u"SELECT YNO, YNO2, CODEHASH FROM WEBYOYAKU WHERE NONCE = ?"_s, {QString::fromLatin1(nonce)},
                  [&](const QSqlQuery &q) {
                      found = webRow(q);
                  });
    if (found) {
        found->doses = bookedDoses(db, found->yno);
    }
    return found;
}

QList<Reservation> bookedDoses(Database &db, int yno)
{
    QList<Reservation> doses;
    QString columns = reservationColumns();
    columns.replace(u", "_s, u", Y."_s);
    db.forEachRow(u"SELECT Y."_s + columns + u' ' + BookedRows + u" ORDER BY Y.YDATE, Y.YTIME"_s, {yno},
                  [&](const QSqlQuery &q) { doses.append(readReservation(q)); });
    return doses;
}

int cancelOnline(Database &db, int yno, const std::function<void(Database &, int)> &alsoStore)
{
    Database::WriteTransaction transaction(db);
    QList<int> numbers;
    db.forEachRow(u"SELECT Y.YNO "_s + BookedRows, {yno}, [&](const QSqlQuery &q) { numbers << q.value(0).toInt(); });
    int deleted = 0;
    for (const int number : numbers) {
        const std::optional<Reservation> before = reservationByNumber(db, number);
        deleted += db.write(u"DELETE FROM YOYAKU WHERE YNO = ?"_s, {number});
        recordReservationChange(db, HistoryKind::Cancelled, before, std::nullopt);
    }
    if (alsoStore) {
        alsoStore(db, deleted);
    }
    transaction.commit();
    return deleted;
}

} // namespace qrb
