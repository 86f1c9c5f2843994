#include "ReportQueries.h"

#include "Database.h"
#include "shared/Dates.h"

#include <QHash>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb {

QList<Reservation> reservationsOfDay(Database &db, QDate day, bool notVisitedOnly)
{
    const QString sql = u"SELECT "_s + reservationColumns() + u" FROM YOYAKU WHERE YDATE = ?"_s +
                        (notVisitedOnly ? u" AND CFLG = 0"_s : QString()) + u" ORDER BY YTIME, YNO"_s;
    QList<Reservation> rows;
    db.forEachRow(sql, {dateKey(day)}, [&](const QSqlQuery &q) { rows.append(readReservation(q)); });
    return rows;
}

MonthCounts monthCounts(Database &db, int year, int month)
{
    const QDate first(year, month, 1);
    const QString prefix = dateKey(first).left(7); // "YYYY/MM"
    // Every text beginning with the prefix lies between the prefix itself and the prefix with its last
    // digit raised by one; the range lets the date index find the month, LIKE keeps the exact meaning.
    QString above = prefix;
    above[above.size() - 1] = QChar(above.back().unicode() + 1);

    MonthCounts counts;
    counts.days.resize(first.daysInMonth());
    db.forEachRow(u"SELECT YDATE, COUNT(*), COALESCE(SUM(CASE WHEN CFLG = 0 THEN 1 ELSE 0 END), 0) FROM YOYAKU "
                  "WHERE YDATE >= ? AND YDATE < ? AND YDATE LIKE ? ESCAPE '\\' GROUP BY YDATE"_s,
                  {prefix, above, QString(prefix + u'%')}, [&](const QSqlQuery &q) {
                      const qint64 reserved = q.value(1).toLongLong();
                      const qint64 notVisited = q.value(2).toLongLong();
                      counts.month.reserved += reserved;
                      counts.month.notVisited += notVisited;
                      const auto date = dateFromKey(q.value(0).toString());
                      if (date && date->year() == year && date->month() == month) {
                          ReportCounts &day = counts.days[date->day() - 1];
                          day.reserved = reserved;
                          day.notVisited = notVisited;
                      }
                  });

    QHash<int, qint64> placesByWeekday;
    db.forEachRow(u"SELECT SWEEKDAY, COALESCE(SUM(NINZU), 0) FROM SETTING GROUP BY SWEEKDAY"_s, {},
                  [&](const QSqlQuery &q) { placesByWeekday.insert(q.value(0).toInt(), q.value(1).toLongLong()); });
    for (qsizetype i = 0; i < counts.days.size(); ++i) {
        ReportCounts &day = counts.days[i];
        day.places = placesByWeekday.value(weekdayNumber(first.addDays(i)), 0);
        counts.month.places += day.places;
    }
    return counts;
}

} // namespace qrb
