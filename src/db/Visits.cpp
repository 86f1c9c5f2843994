#include "Visits.h"

#include "Database.h"
#include "History.h"

#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb {

QList<VisitEntry> reservationsOfDayByVisit(Database &db, const QString &dateKey, int cflg)
{
    QList<VisitEntry> entries;
    db.forEachRow(u"SELECT YNO, YTIME, KNM FROM YOYAKU WHERE YDATE = ? AND CFLG = ? ORDER BY YTIME, YNO"_s,
                  {dateKey, cflg}, [&](const QSqlQuery &q) {
                      entries.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString()});
                  });
    return entries;
}

bool setVisitFlag(Database &db, const VisitEntry &entry, const QString &dateKey, int cflg)
{
    Database::WriteTransaction transaction(db);
    // Read by number, day, hour and name: the number alone could name a newer reservation that took over
    // a cancelled one's number.
    const std::optional<Reservation> before = reservationOfEntry(db, entry, dateKey);
    if (!before) {
        return false;
    }
    db.write(u"UPDATE YOYAKU SET CFLG = ? WHERE YNO = ?"_s, {cflg, before->yno});
    // A line moved where another desk had already moved it changes nothing, and records nothing.
    if (before->cflg != cflg) {
        Reservation after = *before;
        after.cflg = cflg;
        recordReservationChange(db, cflg == 1 ? HistoryKind::Arrived : HistoryKind::NotArrived, before, after);
    }
    transaction.commit();
    return true;
}

std::optional<Reservation> reservationOfEntry(Database &db, const VisitEntry &entry, const QString &dateKey)
{
    std::optional<Reservation> found;
    db.forEachRow(u"SELECT "_s + reservationColumns()
                      + u" FROM YOYAKU WHERE YNO = ? AND YDATE = ? AND YTIME = ? AND COALESCE(KNM, '') = ?"_s,
                  {entry.yno, dateKey, entry.ytime, entry.knm},
                  [&](const QSqlQuery &q) { found = readReservation(q); });
    return found;
}

} // namespace qrb
