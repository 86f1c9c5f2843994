#pragma once

#include "db/Database.h"

#include <QString>
#include <QVariant>

namespace qrb::test {

// A whole YOYAKU row as a reception desk would have stored it; codes are QVariants so that a test can
// store Null. Defaults: a seasonal reservation of a non-member with no earlier visit, not yet come.
struct SeedRow {
    QString ydate = QStringLiteral("2009/10/09");
    QString ytime = QStringLiteral("08");
    QString knm;
    QString tel1 = QStringLiteral("03-1111-2222");
    QString tel2;
    QVariant bflg = 0;
    QString birthday = QStringLiteral("2000年01月01日");
    QVariant cflg = 0;
    QVariant sflg = 1;
    QVariant scnt = 1;
    QVariant rflg = 2;
    QString kno;
    QVariant kflg = 2;
    QString kmno;
};

inline int seed(Database &db, const SeedRow &r)
{
    const int yno = db.scalar(QStringLiteral("SELECT COALESCE(MAX(YNO), 0) + 1 FROM YOYAKU")).toInt();
    db.write(QStringLiteral("INSERT INTO YOYAKU (YNO, KNO, KNM, KKNM, YDATE, YTIME, BFLG, BIRTHDAY, TEL1, TEL2, "
                            "RFLG, KFLG, KMNO, SFLG, SCNT, CFLG, Category) "
                            "VALUES (?, ?, ?, '', ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0)"),
             {yno, r.kno, r.knm, r.ydate, r.ytime, r.bflg, r.birthday, r.tel1, r.tel2, r.rflg, r.kflg, r.kmno, r.sflg,
              r.scnt, r.cflg});
    return yno;
}

// Every slot of every weekday offers `places`, except that Friday (weekday 5) offers `friday` in all
// in its first slot.
inline void setPlaces(Database &db, int places, int friday)
{
    db.write(QStringLiteral("UPDATE SETTING SET NINZU = ?"), {places});
    db.write(QStringLiteral("UPDATE SETTING SET NINZU = 0 WHERE SWEEKDAY = 5"));
    db.write(QStringLiteral("UPDATE SETTING SET NINZU = ? WHERE SWEEKDAY = 5 AND STIME = '08'"), {friday});
}

} // namespace qrb::test
