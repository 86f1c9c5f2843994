#include "db/Maintenance.h"

#include "db/Reservation.h"
#include "support/Workspace.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;

namespace {

QStringList remainingDates(qrb::Database &db)
{
    QStringList dates;
    db.forEachRow(u"SELECT YDATE FROM YOYAKU ORDER BY YDATE, YNO"_s, {},
                  [&](const QSqlQuery &q) { dates << q.value(0).toString(); });
    return dates;
}

const QDateTime moment(QDate(2009, 10, 9), QTime(10, 30, 5));

} // namespace

class MaintenanceTest final : public QObject
{
    Q_OBJECT

private slots:
    void periodDeletesBothEndsIncluded_data();
    void periodDeletesBothEndsIncluded();
    void deleteAllEmptiesTheTable();
    void backupsInOneSecondDoNotMeet();
};

void MaintenanceTest::periodDeletesBothEndsIncluded_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("one day") << u"2009/10/09"_s << u"2009/10/09"_s << 2
                             << QStringList{u"2009/09/30"_s, u"2009/10/10"_s, u"2009/11/01"_s};
    QTest::newRow("month ends") << u"2009/10/01"_s << u"2009/10/31"_s << 3
                                << QStringList{u"2009/09/30"_s, u"2009/11/01"_s};
    QTest::newRow("first after last") << u"2009/10/10"_s << u"2009/10/09"_s << 0
                                      << QStringList{u"2009/09/30"_s, u"2009/10/09"_s, u"2009/10/09"_s,
                                                     u"2009/10/10"_s, u"2009/11/01"_s};
}

void MaintenanceTest::periodDeletesBothEndsIncluded()
{
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(int, deleted);
    QFETCH(QStringList, left);

    Workspace ws;
    for (const QString &day : {u"2009/10/09"_s, u"2009/09/30"_s, u"2009/10/10"_s, u"2009/10/09"_s, u"2009/11/01"_s}) {
        ws.addReservation(day, u"08"_s, u"山田"_s);
    }
    QCOMPARE(qrb::deleteReservationsBetween(ws.db, first, last), deleted);
    QCOMPARE(remainingDates(ws.db), left);
}

void MaintenanceTest::deleteAllEmptiesTheTable()
{
    Workspace ws;
    QCOMPARE(qrb::deleteAllReservations(ws.db), 0);
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    ws.addReservation(u"2010/01/04"_s, u"17"_s, u"田中"_s);
    QCOMPARE(qrb::deleteAllReservations(ws.db), 2);
    QCOMPARE(remainingDates(ws.db), QStringList{});
    // Capacities are no reservations and stay.
    QCOMPARE(qrb::NINZU_cnt(ws.db, 1, u"08"_s), 0);
    QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM SETTING"_s).toInt(), 70);
}

void MaintenanceTest::backupsInOneSecondDoNotMeet()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    const std::optional<QString> first = qrb::backupDatabase(ws.db, moment);
    const std::optional<QString> second = qrb::backupDatabase(ws.db, moment);
    if (ws.onPostgres()) {
        // The server's own backups keep a shared database: no copy, nothing written into the folder.
        QVERIFY(!first && !second);
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/backup"_s));
        return;
    }
    QVERIFY(first && second);
    QCOMPARE(*first, ws.folder() + u"/backup/yoyaku_20091009_103005.db"_s);
    QCOMPARE(*second, ws.folder() + u"/backup/yoyaku_20091009_103005_2.db"_s);
    for (const QString &copy : {*first, *second}) {
        qrb::Database opened(u"copy"_s);
        opened.DB_open(copy);
        QCOMPARE(remainingDates(opened), QStringList{u"2009/10/09"_s});
    }
}

QTEST_GUILESS_MAIN(MaintenanceTest)
#include "tst_maintenance.moc"
