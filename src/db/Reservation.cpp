#include "Reservation.h"

#include "Database.h"

#include <QSqlQuery>
#include <QVariant>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

std::optional<int> code(const QVariant &value)
{
    if (value.isNull()) {
        return std::nullopt;
    }
    return value.toInt();
}

QString text(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

} // namespace

QString reservationColumns()
{
    return u"YNO, KNO, KNM, KKNM, YDATE, YTIME, BFLG, BIRTHDAY, TEL1, TEL2, RFLG, KFLG, KMNO, BIKO, SFLG, SCNT, "
           "CFLG, Category"_s;
}

Reservation readReservation(const QSqlQuery &q)
{
    Reservation r;
    r.yno = q.value(0).toInt();
    r.kno = text(q.value(1));
    r.knm = text(q.value(2));
    r.kknm = text(q.value(3));
    r.ydate = text(q.value(4));
    r.ytime = text(q.value(5));
    r.bflg = code(q.value(6));
    r.birthday = text(q.value(7));
    r.tel1 = text(q.value(8));
    r.tel2 = text(q.value(9));
    r.rflg = code(q.value(10));
    r.kflg = code(q.value(11));
    r.kmno = text(q.value(12));
    r.biko = text(q.value(13));
    r.sflg = code(q.value(14));
    r.scnt = code(q.value(15));
    r.cflg = code(q.value(16));
    r.category = code(q.value(17));
    return r;
}

int YOYAKU_cnt(Database &db, const QString &dateKey, const QString &slot)
{
    return db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE YDATE = ? AND YTIME = ?"_s, {dateKey, slot}).toInt();
}

int NINZU_cnt(Database &db, int weekday, const QString &slot)
{
    return db.scalar(u"SELECT NINZU FROM SETTING WHERE SWEEKDAY = ? AND STIME = ?"_s, {weekday, slot}).toInt();
}

} // namespace qrb
