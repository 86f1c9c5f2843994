// What the reports read: the counts of a day and of a month, and the reservations of a day.
#include "screens/reports/ReportSeed.h"
#include "support/Workspace.h"

#include "db/ReportQueries.h"

#include <QTest>

using namespace Qt::StringLiterals;

class ReportQueriesTest : public QObject
{
    Q_OBJECT

private slots:
    void dayCountsEveryReservationAndThoseNotYetCome()
    {
        qrb::test::Workspace ws(3);
        for (const int cflg : {0, 1, 0}) {
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"患者"_s, cflg);
        }
        ws.addReservation(u"2009/10/10"_s, u"08"_s, u"翌日"_s);
        qrb::test::SeedRow unknownVisit;
        unknownVisit.cflg = QVariant();
        qrb::test::seed(ws.db, unknownVisit);

        auto counts = qrb::dayCounts(ws.db, QDate(2009, 10, 9));
        QCOMPARE(counts.reserved, 4);
        QCOMPARE(counts.notVisited, 2);
        QCOMPARE(counts.places, 30);

        // A weekday nobody has set up offers no places.
        ws.db.write(u"DELETE FROM SETTING WHERE SWEEKDAY = 5"_s);
        QCOMPARE(qrb::dayCounts(ws.db, QDate(2009, 10, 9)).places, 0);
    }

    void monthCountsPerDayAndBeyondSixteenBits()
    {
        qrb::test::Workspace ws(200); // 2,000 places a day, 62,000 in October
        for (const QString &date :
             {u"2009/09/30"_s, u"2009/10/01"_s, u"2009/10/31"_s, u"2009/11/01"_s, u"2009/10/9"_s}) {
            ws.addReservation(date, u"09"_s, u"患者"_s);
        }
        ws.addReservation(u"2009/10/31"_s, u"10"_s, u"来院済"_s, 1);

        const qrb::MonthCounts counts = qrb::monthCounts(ws.db, 2009, 10);
        QCOMPARE(counts.days.size(), 31);
        QCOMPARE(counts.month.places, 62000);
        // "2009/10/9" begins with the month but is no day of it: the month counts it, no day does.
        QCOMPARE(counts.month.reserved, 4);
        QCOMPARE(counts.month.notVisited, 3);
        QCOMPARE(counts.days.at(0).reserved, 1);
        QCOMPARE(counts.days.at(8).reserved, 0);
        QCOMPARE(counts.days.at(30).reserved, 2);
        QCOMPARE(counts.days.at(30).notVisited, 1);

        qint64 sum = 0;
        for (const auto &day : counts.days) {
            QCOMPARE(day.places, qrb::dayCounts(ws.db, QDate(2009, 10, 1)).places);
            sum += day.places;
        }
        QCOMPARE(sum, counts.month.places);
        QCOMPARE(qrb::monthCounts(ws.db, 2009, 12).month.reserved, 0);
    }
};

QTEST_MAIN(ReportQueriesTest)
#include "tst_reportqueries.moc"
