// The counts a day's reports head with; the monthly report's are followed in its whole-file comparisons.
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
        for (const int cflg : {0, 1, 0, 0}) {
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"患者"_s, cflg);
        }
        ws.addReservation(u"2009/10/10"_s, u"08"_s, u"翌日"_s);
        // A visit flag never written counts as a reservation, not as one not yet come.
        ws.db.write(u"UPDATE YOYAKU SET CFLG = NULL WHERE YNO = 4"_s);

        auto counts = qrb::dayCounts(ws.db, QDate(2009, 10, 9));
        QCOMPARE(counts.reserved, 4);
        QCOMPARE(counts.notVisited, 2);
        QCOMPARE(counts.places, 30);

        // A weekday nobody has set up offers no places.
        ws.db.write(u"DELETE FROM SETTING WHERE SWEEKDAY = 5"_s);
        QCOMPARE(qrb::dayCounts(ws.db, QDate(2009, 10, 9)).places, 0);
    }
};

QTEST_MAIN(ReportQueriesTest)
#include "tst_reportqueries.moc"
