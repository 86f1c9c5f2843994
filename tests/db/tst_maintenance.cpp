#include "db/Maintenance.h"

#include "support/Workspace.h"

#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;

class MaintenanceTest final : public QObject
{
    Q_OBJECT

private slots:
    void deletionsCountWhatTheyRemoveAndKeepCapacities();
    void backupsInOneSecondDoNotMeet();
};

// Which reservations a period removes is followed through the maintenance screen.
void MaintenanceTest::deletionsCountWhatTheyRemoveAndKeepCapacities()
{
    Workspace ws;
    QCOMPARE(qrb::deleteAllReservations(ws.db), 0);
    for (const QString &day : {u"2009/10/09"_s, u"2009/10/09"_s, u"2009/10/10"_s, u"2010/01/04"_s}) {
        ws.addReservation(day, u"08"_s, u"山田"_s);
    }
    QCOMPARE(qrb::deleteReservationsBetween(ws.db, u"2009/10/09"_s, u"2009/10/10"_s), 3);
    QCOMPARE(qrb::deleteAllReservations(ws.db), 1);
    QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 0);
    QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM SETTING"_s).toInt(), 70);
}

void MaintenanceTest::backupsInOneSecondDoNotMeet()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    const QDateTime moment(QDate(2009, 10, 9), QTime(10, 30, 5));
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
        QCOMPARE(opened.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 1);
    }
}

QTEST_GUILESS_MAIN(MaintenanceTest)
#include "tst_maintenance.moc"
