#include "Booking.h"

#include "Capacities.h"
#include "Database.h"
#include "History.h"
#include "ReservationNumbers.h"
#include "Search.h"

#include "shared/Text.h"

#include <QHash>
#include <QSqlQuery>


using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// The reservation a screen loaded, if it is still in the slot under the name the screen shows (a name
// an older tool stored with a line break is shown, and matched, on one line).
std::optional<Reservation> loadedReservation(Database &db, int yno, const QString &dateKey, const QString &hour,
                                             const QString &name)
{
    std::optional<Reservation> found;
    db.forEachRow(u"SELECT "_s + reservationColumns() + u" FROM YOYAKU WHERE YNO = ? AND YDATE = ? AND YTIME = ?"_s,
                  {yno, dateKey, hour}, [&](const QSqlQuery &q) { found = readReservation(q); });
    if (found && oneLine(found->knm) != name) {
        return std::nullopt;
    }
    return found;
}

} // namespace

StoredBooking registerReservation(Database &db, const BookingRecord &record, WhenFull whenFull)
{
    Database::WriteTransaction transaction(db);
    const StoredBooking stored = registerReservationInTransaction(db, record, whenFull);
    if (!stored.slotFull && !stored.loadedGone) {
        transaction.commit();
    }
    return stored;
}

StoredBooking registerReservationInTransaction(Database &db, const BookingRecord &r, WhenFull whenFull,
                                               SameName sameName)
{
    // NULL when the form knows no era: a new reservation is stored without one, an existing one keeps its own.
    const QVariant bflg = r.bflg ? QVariant(*r.bflg) : QVariant(QMetaType::fromType<int>());
    const std::optional<Reservation> before =
        r.loadedYno                        ? loadedReservation(db, *r.loadedYno, r.ydate, r.ytime, r.knm)
        : sameName == SameName::Overwrite ? reservationInSlot(db, r.ydate, r.ytime, r.knm)
                                           : std::nullopt;
    StoredBooking stored;
    if (r.loadedYno && !before) {
        stored.loadedGone = true;
        return stored;
    }
    if (before) {
        stored.yno = before->yno;
        db.write(u"UPDATE YOYAKU SET KNO = ?, KNM = ?, KKNM = ?, YDATE = ?, YTIME = ?, BFLG = COALESCE(?, BFLG), "
                 "BIRTHDAY = ?, TEL1 = ?, TEL2 = ?, RFLG = ?, KFLG = ?, BIKO = ?, SFLG = ?, SCNT = ?, KMNO = ?, "
                 "CFLG = 0, Category = 0 WHERE YNO = ?"_s,
                 {r.kno, r.knm, r.kknm, r.ydate, r.ytime, bflg, r.birthday, r.tel1, r.tel2, r.rflg, r.kflg, r.biko,
                  r.sflg, r.scnt, r.kmno, stored.yno});
    } else {
        if (whenFull == WhenFull::Refuse) {
            const auto date = dateFromKey(r.ydate);
            const int places = date ? placesInSlot(db, *date, r.ytime) : 0;
            if (YOYAKU_cnt(db, r.ydate, r.ytime) + 1 > places) {
                stored.slotFull = true;
                return stored;
            }
        }
        stored.yno = drawReservationNumber(db);
        stored.added = true;
        db.write(u"INSERT INTO YOYAKU (YNO, KNO, KNM, KKNM, YDATE, YTIME, BFLG, BIRTHDAY, TEL1, TEL2, RFLG, KFLG, "
                 "BIKO, SFLG, SCNT, KMNO, CFLG, Category) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                 "0, 0)"_s,
                 {stored.yno, r.kno, r.knm, r.kknm, r.ydate, r.ytime, bflg, r.birthday, r.tel1, r.tel2, r.rflg,
                  r.kflg, r.biko, r.sflg, r.scnt, r.kmno});
    }
    // The row as stored, not as asked for: an overwrite keeps an era the form did not know.
    // SFLG 2 (新型) with SCNT 2 is the second record of a pair; a second dose alone is SFLG 4.
    const bool secondOfPair = r.sflg == 2 && r.scnt == 2;
    const HistoryKind kind = !stored.added ? HistoryKind::Overwritten
                             : secondOfPair ? HistoryKind::SecondDose
                                            : HistoryKind::Registered;
    recordReservationChange(db, kind, before, reservationByNumber(db, stored.yno));
    return stored;
}

std::optional<Reservation> cancelReservation(Database &db, const QString &dateKey, const QString &hour,
                                             const QString &name, std::optional<int> yno)
{
    Database::WriteTransaction transaction(db);
    const std::optional<Reservation> before =
        yno ? loadedReservation(db, *yno, dateKey, hour, name) : reservationInSlot(db, dateKey, hour, name);
    if (!before) {
        return std::nullopt;
    }
    db.write(u"DELETE FROM YOYAKU WHERE YNO = ?"_s, {before->yno});
    recordReservationChange(db, HistoryKind::Cancelled, before, std::nullopt);
    transaction.commit();
    return before;
}

QStringList namesInSlot(Database &db, const QString &dateKey, const QString &hour)
{
    QStringList names;
    db.forEachRow(u"SELECT KNM FROM YOYAKU WHERE YDATE = ? AND YTIME = ? ORDER BY YNO"_s, {dateKey, hour},
                  [&](const QSqlQuery &q) { names << q.value(0).toString(); });
    return names;
}

std::optional<Reservation> reservationInSlot(Database &db, const QString &dateKey, const QString &hour,
                                             const QString &name)
{
    std::optional<Reservation> found;
    db.forEachRow(u"SELECT "_s + reservationColumns() +
                      u" FROM YOYAKU WHERE YDATE = ? AND YTIME = ? AND KNM = ? ORDER BY YNO"_s,
                  {dateKey, hour, name}, [&](const QSqlQuery &q) {
                      if (!found) {
                          found = readReservation(q);
                      }
                  });
    return found;
}

std::optional<Reservation> latestReservationOfPatient(Database &db, const QString &patientNumber)
{
    std::optional<Reservation> found;
    db.forEachRow(u"SELECT "_s + reservationColumns() + u" FROM YOYAKU WHERE "_s + db.equalsIgnoringCase(u"KNO"_s)
                      + u" ORDER BY YNO DESC"_s,
                  {patientNumber}, [&](const QSqlQuery &q) {
                      if (!found) {
                          found = readReservation(q);
                      }
                  });
    return found;
}

int placesInSlot(Database &db, QDate date, const QString &hour)
{
    return NINZU_cnt(db, weekdayNumber(date), hour);
}

std::optional<QList<GridDay>> monthGrid(Database &db, const QString &year, const QString &month, const QString &day)
{
    const auto days = daysInMonth(year, month);
    bool ok = false;
    const int firstDay = day.toInt(&ok);
    if (!days || !ok || firstDay < 1) {
        return std::nullopt;
    }
    QList<GridDay> grid;
    if (firstDay > *days) {
        return grid;
    }
    // The keys are built from the pickers' texts exactly as a count of one day and slot would be, and
    // only rows matching such a key are taken, so the numbers equal those of YOYAKU_cnt.
    const auto keyOf = [&](int d) { return dateKey(year, month, twoDigits(d)); };
    QHash<QString, int> counts;
    db.forEachRow(u"SELECT YDATE, YTIME, COUNT(*) FROM YOYAKU WHERE YDATE >= ? AND YDATE <= ? "
                  "GROUP BY YDATE, YTIME"_s,
                  {keyOf(firstDay), keyOf(*days)}, [&](const QSqlQuery &q) {
                      counts.insert(q.value(0).toString() + u' ' + q.value(1).toString(), q.value(2).toInt());
                  });
    const CapacityTable capacities = loadCapacities(db);
    for (int d = firstDay; d <= *days; ++d) {
        GridDay row;
        row.date = QDate(year.toInt(), month.toInt(), d);
        row.label = twoDigits(d) + u"日 "_s + weekdayName(weekdayNumber(row.date));
        for (int slot = 0; slot < SlotCount; ++slot) {
            row.counts[slot] = counts.value(keyOf(d) + u' ' + slotKey(slot));
            row.places[slot] = capacities.get_value(weekdayNumber(row.date), slotKey(slot));
        }
        grid.append(row);
    }
    return grid;
}

} // namespace qrb
