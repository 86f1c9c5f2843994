#include "DayStatus.h"

#include "Database.h"
#include "shared/Dates.h"

#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb {

DayCounts dayCounts(Database &db, QDate day)
{
    DayCounts counts;
    const QString key = dateKey(day);
    db.forEachRow(u"SELECT COUNT(*), COALESCE(SUM(CASE WHEN CFLG = 1 THEN 1 ELSE 0 END), 0), "
                  "COALESCE(SUM(CASE WHEN CFLG = 0 THEN 1 ELSE 0 END), 0) FROM YOYAKU WHERE YDATE = ?"_s,
                  {key}, [&](const QSqlQuery &q) {
                      counts.reserved = q.value(0).toLongLong();
                      counts.visited = q.value(1).toLongLong();
                      counts.notVisited = q.value(2).toLongLong();
                  });
    counts.places = db.scalar(u"SELECT COALESCE(SUM(NINZU), 0) FROM SETTING WHERE SWEEKDAY = ?"_s,
                              {weekdayNumber(day)})
                        .toLongLong();
    return counts;
}

QList<SlotName> namesOfDay(Database &db, QDate day, bool withVisited)
{
    QList<SlotName> names;
    const auto add = [&](const QSqlQuery &q) { names.append({q.value(0).toString(), q.value(1).toString()}); };
    if (withVisited) {
        db.forEachRow(u"SELECT YTIME, KNM FROM YOYAKU WHERE YDATE = ? ORDER BY YTIME, YNO"_s, {dateKey(day)}, add);
    } else {
        db.forEachRow(u"SELECT YTIME, KNM FROM YOYAKU WHERE YDATE = ? AND CFLG = 0 ORDER BY YTIME, YNO"_s,
                      {dateKey(day)}, add);
    }
    return names;
}

} // namespace qrb
