#include "db/Visits.h"
#include "support/Workspace.h"

#include <QTest>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;

class VisitQueriesTest : public QObject
{
    Q_OBJECT

private slots:
    void visitFlagOnlyForTheReservationTheLineShows_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("written");
        QTest::newRow("unchanged") << QString() << true;
        QTest::newRow("cancelled") << u"DELETE FROM YOYAKU WHERE YNO = 1"_s << false;
        QTest::newRow("moved to another hour") << u"UPDATE YOYAKU SET YTIME = '09' WHERE YNO = 1"_s << false;
        QTest::newRow("moved to another day") << u"UPDATE YOYAKU SET YDATE = '2009/10/10' WHERE YNO = 1"_s << false;
        QTest::newRow("number taken by another patient")
            << u"UPDATE YOYAKU SET KNM = '鈴木' WHERE YNO = 1"_s << false;
    }

    void visitFlagOnlyForTheReservationTheLineShows()
    {
        QFETCH(QString, change);
        QFETCH(bool, written);
        Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"O'Brien"_s);
        const QList<qrb::VisitEntry> lines = qrb::reservationsOfDayByVisit(ws.db, u"2009/10/09"_s, 0);
        QCOMPARE(lines.size(), 1);
        if (!change.isEmpty()) {
            ws.db.write(change);
        }
        QCOMPARE(qrb::setVisitFlag(ws.db, lines.first(), u"2009/10/09"_s, 1), written);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE CFLG = 1"_s).toInt(), written ? 1 : 0);
        // The detail message follows the same rule: no details of another patient.
        QCOMPARE(qrb::reservationOfEntry(ws.db, lines.first(), u"2009/10/09"_s).has_value(), written);
    }
};

QTEST_MAIN(VisitQueriesTest)
#include "tst_visitqueries.moc"
