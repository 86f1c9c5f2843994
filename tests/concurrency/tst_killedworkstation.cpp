// A workstation killed in the middle of its work (switched off, killed from the task manager) leaves
// the shared database whole: its last write either fully there or not at all, and nothing locked.
#include "db/Booking.h"
#include "db/Capacities.h"
#include "shared/Dates.h"
#include "support/Workspace.h"
#include "support/Workstation.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using qrb::Database;
using qrb::DbError;
using qrb::test::Workspace;
using qrb::test::Workstation;
using qrb::test::Workstations;

namespace {

const QString Day = u"2009/10/09"_s;
constexpr int Kills = 3;

// What the killed desk had been told it booked must all be there, complete; at most the one booking it
// was in the middle of may be there as well (committed just before the kill, unreported).
void checkBookings(Database &db, Workstation &desk, const QString &prefix)
{
    QStringList told;
    for (const QStringList &line : desk.lines(u"ok"_s)) {
        told << line.value(1) + u' ' + line.value(2);
    }
    const QString unreported = qrb::test::patientName(prefix, told.size() + desk.lines(u"fail"_s).size());
    QStringList stored;
    db.forEachRow(u"SELECT KNM, YNO, KNO, TEL1, SFLG, CFLG FROM YOYAKU WHERE YDATE = ? AND YTIME = ? AND KNM LIKE ?"_s,
                  {Day, u"10"_s, QString(prefix + u"-%"_s)}, [&](const QSqlQuery &q) {
                      const QString name = q.value(0).toString();
                      QVERIFY2(q.value(2).toString() == QString::number(100000 + name.section(u'-', -1).toInt())
                                   && q.value(3).toString() == u"03-1234-5678"_s && q.value(4).toInt() == 1
                                   && q.value(5).toInt() == 0,
                               qPrintable(name));
                      stored << name + u' ' + q.value(1).toString();
                      if (name == unreported) {
                          told << stored.last();
                      }
                  });
    told.sort();
    stored.sort();
    QCOMPARE(stored, told);
    // Each booking there has its history row, and no row is left without its booking.
    QStringList recorded;
    db.forEachRow(u"SELECT KNM, YNO FROM RIREKI WHERE HWHAT = 1 AND KNM LIKE ?"_s, {QString(prefix + u"-%"_s)},
                  [&](const QSqlQuery &q) { recorded << q.value(0).toString() + u' ' + q.value(1).toString(); });
    recorded.sort();
    QCOMPARE(recorded, stored);
}

// All 70 cells are those of one save: the last the desk was told of, or the one it was in.
void checkSettings(Database &db, Workstation &desk)
{
    const int lastSaved = desk.lines(u"saved"_s).constLast().value(1).toInt();
    const qrb::CapacityTable table = qrb::loadCapacities(db);
    const int found = (table.get_value(1, u"08"_s) - qrb::test::settingsCell(0, 1, 0)) / 100;
    QVERIFY2(found == lastSaved || found == lastSaved + 1, qPrintable(u"save %1 found, %2 told"_s.arg(found).arg(lastSaved)));
    QCOMPARE(table.size(), 7 * qrb::SlotCount);
    for (int weekday = 1; weekday <= 7; ++weekday) {
        for (int slot = 0; slot < qrb::SlotCount; ++slot) {
            QCOMPARE(table.get_value(weekday, qrb::slotKey(slot)), qrb::test::settingsCell(found, weekday, slot));
        }
    }
}

} // namespace

class KilledWorkstationTest : public QObject
{
    Q_OBJECT

private slots:
    void killedDeskLeavesTheDatabaseWhole_data()
    {
        QTest::addColumn<QString>("job");
        QTest::newRow("while registering") << u"register"_s;
        QTest::newRow("while saving the settings") << u"settings"_s;
    }

    void killedDeskLeavesTheDatabaseWhole()
    {
        QFETCH(QString, job);
        const bool registering = job == u"register"_s;
        Workspace ws(3);
        int insideTransaction = 0;
        for (int round = 0; round < Kills; ++round) {
            const QString prefix = u"停止%1"_s.arg(round);
            Workstations desks;
            desks.push_back(std::make_unique<Workstation>(
                ws.target(), job, QStringList{u"prefix="_s + prefix, u"count=100000"_s, u"date="_s + Day, u"hour=10"_s}));
            Workstation &desk = *desks.front();
            QVERIFY(startTogether(desks, 30000));
            QTRY_VERIFY2_WITH_TIMEOUT(desk.lines(registering ? u"ok"_s : u"saved"_s).size() >= 5 + 7 * round,
                                      qPrintable(desk.diagnosis()), 30000);
            desk.kill();
            if (!ws.onPostgres() && QFileInfo(ws.dbPath() + u"-journal"_s).size() > 0) {
                ++insideTransaction;
            }

            // The next workstation to start up.
            Database next(u"next"_s);
            next.DB_open(ws.target());
            if (!ws.onPostgres()) {
                QCOMPARE(next.scalar(u"PRAGMA integrity_check"_s).toString(), u"ok"_s);
            }
            if (registering) {
                checkBookings(next, desk, prefix);
            } else {
                checkSettings(next, desk);
            }
            QVERIFY(!QTest::currentTestFailed());
            QCOMPARE(next.scalar(u"SELECT COUNT(DISTINCT YNO) FROM YOYAKU"_s).toInt(),
                     next.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt());

            // Nothing the killed desk held is still locked: both kinds of write go through at once.
            QElapsedTimer took;
            took.start();
            try {
                qrb::BookingRecord record;
                record.knm = u"次の患者%1"_s.arg(round);
                record.ydate = Day;
                record.ytime = u"11"_s;
                const int yno = qrb::registerReservation(next, record, qrb::WhenFull::Overbook).yno;
                QCOMPARE(yno, next.scalar(u"SELECT MAX(YNO) FROM YOYAKU"_s).toInt());
                qrb::saveCapacities(next, qrb::loadCapacities(next));
            } catch (const DbError &error) {
                QFAIL(qPrintable(error.message()));
            }
            QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
        }
        qInfo("%s: %d kills %s, %d of them found inside a transaction", ws.onPostgres() ? "PostgreSQL" : "SQLite",
              Kills, registering ? "while registering" : "while saving the settings", insideTransaction);
    }
};

QRB_WORKSTATION_TEST_MAIN(KilledWorkstationTest)
#include "tst_killedworkstation.moc"
