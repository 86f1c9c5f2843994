// The history of changes: one row for every change, with its fields, written or undone with the change.
#include "db/Booking.h"
#include "db/Capacities.h"
#include "db/Backup.h"
#include "db/History.h"
#include "db/Maintenance.h"
#include "db/Visits.h"
#include "support/Workspace.h"

#include <QDateTime>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;
using qrb::test::Workspace;

namespace {

const QString Day = u"2009/10/09"_s;

BookingRecord booking(const QString &name, const QString &tel, int sflg = 1, int scnt = 1)
{
    BookingRecord r;
    r.kno = u"77"_s;
    r.knm = name;
    r.ydate = Day;
    r.ytime = u"10"_s;
    r.tel1 = tel;
    r.sflg = sflg;
    r.scnt = scnt;
    return r;
}

int rows(Database &db)
{
    return db.scalar(u"SELECT COUNT(*) FROM RIREKI"_s).toInt();
}

// Does what the row names, to the reservation 山田 (YNO 1) of 2009/10/09 10時.
void act(Workspace &ws, const QString &action)
{
    Database &db = ws.db;
    const VisitEntry line{1, u"10"_s, u"山田"_s};
    if (action == u"register"_s) {
        registerReservation(db, booking(u"鈴木"_s, u"03-9"_s), WhenFull::Overbook);
    } else if (action == u"overwrite"_s) {
        registerReservation(db, booking(u"山田"_s, u"03-2"_s), WhenFull::Overbook);
    } else if (action == u"second dose"_s) {
        BookingRecord second = booking(u"山田"_s, u"03-1"_s, 2, 2);
        second.ydate = u"2009/10/30"_s;
        registerReservation(db, second, WhenFull::Overbook);
    } else if (action == u"cancel"_s) {
        cancelReservation(db, Day, u"10"_s, u"山田"_s);
    } else if (action == u"cancel loaded"_s) {
        cancelReservationNumbered(db, 1);
    } else if (action == u"arrive"_s) {
        setVisitFlag(db, line, Day, 1);
    } else if (action == u"leave"_s) {
        setVisitFlag(db, line, Day, 0);
    } else if (action == u"capacities"_s) {
        CapacityTable table = loadCapacities(db);
        table.set_value(1, u"08"_s, 9);
        saveCapacities(db, table);
    } else if (action == u"delete all"_s) {
        deleteAllReservations(db);
    } else if (action == u"delete period"_s) {
        deleteReservationsBetween(db, Day, Day);
    } else if (action == u"compact"_s) {
        db.DB_close();
        try {
            db.DB_compact(ws.target());
        } catch (const DbError &) {
            db.DB_open(ws.target());
            throw;
        }
        db.DB_open(ws.target());
    } else if (action == u"restore"_s) {
        const QDateTime moment(QDate(2009, 10, 9), QTime(10, 30, 5));
        const QString backup = *backupDatabase(db, moment);
        db.DB_close();
        restoreDatabase(backup, ws.dbPath(), moment.addSecs(60), db.actor());
        db.DB_open(ws.target());
    }
}

} // namespace

class HistoryTest final : public QObject
{
    Q_OBJECT

private slots:
    void everyChangeLeavesOneRowWithItsFields_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("yno"); // -1: none
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("period");
        const auto add = [](const char *name, const QString &action, HistoryKind kind, int yno, const QString &before,
                            const QString &after, const QString &period = {}) {
            QTest::newRow(name) << action << int(kind) << yno << before << after << period;
        };
        add("registered", u"register"_s, HistoryKind::Registered, 2, {}, u"\"KNM\":\"鈴木\""_s);
        add("overwritten", u"overwrite"_s, HistoryKind::Overwritten, 1, u"\"TEL1\":\"03-1\""_s, u"\"TEL1\":\"03-2\""_s);
        add("second dose of a pair", u"second dose"_s, HistoryKind::SecondDose, 2, {}, u"\"SCNT\":2"_s);
        add("cancelled", u"cancel"_s, HistoryKind::Cancelled, 1, u"\"KNO\":\"77\""_s, {});
        add("cancelled as loaded", u"cancel loaded"_s, HistoryKind::Cancelled, 1, u"\"KNO\":\"77\""_s, {});
        add("arrived", u"arrive"_s, HistoryKind::Arrived, 1, u"\"CFLG\":0"_s, u"\"CFLG\":1"_s);
        add("not arrived", u"leave"_s, HistoryKind::NotArrived, 1, u"\"CFLG\":1"_s, u"\"CFLG\":0"_s);
        add("capacities saved", u"capacities"_s, HistoryKind::CapacitiesSaved, -1, u"{\"1-08\":3}"_s,
            u"{\"1-08\":9}"_s);
        add("all deleted", u"delete all"_s, HistoryKind::AllDeleted, -1, {}, {}, u"1  "_s);
        add("period deleted", u"delete period"_s, HistoryKind::PeriodDeleted, -1, {}, {},
            u"1 2009/10/09 2009/10/09"_s);
        add("compacted", u"compact"_s, HistoryKind::Compacted, -1, {}, {});
        add("restored", u"restore"_s, HistoryKind::Restored, -1, {}, u"_20091009_103005.db"_s, u"1  "_s);
    }

    void everyChangeLeavesOneRowWithItsFields()
    {
        QFETCH(QString, action);
        QFETCH(int, kind);
        QFETCH(int, yno);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, period);
        Workspace ws(3);
        if (action == u"restore"_s && ws.onPostgres()) {
            QSKIP("a server's database is backed up and restored by the server's own tools");
        }
        registerReservation(ws.db, booking(u"山田"_s, u"03-1"_s), WhenFull::Overbook);
        if (action == u"leave"_s) {
            ws.db.write(u"UPDATE YOYAKU SET CFLG = 1"_s);
        }
        ws.db.setActor(u"受付1 田中"_s);
        const QString start = QDateTime::currentDateTime().toString(u"yyyy/MM/dd HH:mm:ss"_s);
        act(ws, action);
        const QString end = QDateTime::currentDateTime().toString(u"yyyy/MM/dd HH:mm:ss"_s);

        QCOMPARE(rows(ws.db), 2);
        const HistoryEntry e = historyOf(ws.db, HistoryKey::Day, start.left(10)).constFirst();
        QCOMPARE(int(e.kind), kind);
        QCOMPARE(e.where, u"受付1 田中"_s);
        QVERIFY2(e.when >= start && e.when <= end, qPrintable(e.when));
        QCOMPARE(e.yno.value_or(-1), yno);
        QVERIFY2(before.isEmpty() ? e.before.isEmpty() : e.before.contains(before), qPrintable(e.before));
        QVERIFY2(after.isEmpty() ? e.after.isEmpty() : e.after.contains(after), qPrintable(e.after));
        if (!period.isEmpty()) {
            QCOMPARE(u"%1 %2 %3"_s.arg(e.count.value_or(-1)).arg(e.first, e.last), period);
        }
        if (yno > 0) {
            QCOMPARE(e.knm, action == u"register"_s ? u"鈴木"_s : u"山田"_s);
            QCOMPARE(historyOf(ws.db, HistoryKey::ReservationNumber, QString::number(yno)).constFirst().hno, e.hno);
            QCOMPARE(historyOf(ws.db, HistoryKey::Name, e.knm.left(1)).constFirst().hno, e.hno);
        }
    }

    // The change and its row are one transaction: a row that cannot be written undoes the change.
    void aChangeWithoutItsRowIsUndone_data()
    {
        QTest::addColumn<QString>("action");
        for (const char *action : {"register", "overwrite", "cancel", "arrive", "capacities", "delete all",
                                   "delete period", "compact"}) {
            QTest::newRow(action) << QString::fromLatin1(action);
        }
    }

    void aChangeWithoutItsRowIsUndone()
    {
        QFETCH(QString, action);
        Workspace ws(3);
        registerReservation(ws.db, booking(u"山田"_s, u"03-1"_s), WhenFull::Overbook);
        const auto state = [&]() -> QString {
            return ws.db.scalar(u"SELECT COUNT(*) || ' ' || MAX(TEL1) || ' ' || MAX(CFLG) FROM YOYAKU"_s).toString()
                   + ws.db.scalar(u"SELECT SUM(NINZU) FROM SETTING"_s).toString();
        };
        const QString was = state();
        ws.db.setActor(QString()); // the row's workstation is required: writing the row fails
        QVERIFY_THROWS_EXCEPTION(DbError, act(ws, action));
        QCOMPARE(state(), was);
        QCOMPARE(rows(ws.db), 1);
    }

    void aDatabaseOfAnEarlierVersionGetsTheTableWhenOpened()
    {
        Workspace ws;
        ws.db.write(u"DROP TABLE RIREKI"_s);
        ws.db.DB_close();
        ws.db.DB_open(ws.target());
        registerReservation(ws.db, booking(u"山田"_s, u"03-1"_s), WhenFull::Overbook);
        QCOMPARE(historyOf(ws.db, HistoryKey::PatientNumber, u"77"_s).size(), 1);
    }

    // A line changes only the reservation it shows, and only a change is recorded.
    void visitFlagOnlyForTheReservationTheLineShows_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("recorded");
        QTest::newRow("unchanged") << QString() << 1;
        QTest::newRow("already came") << u"UPDATE YOYAKU SET CFLG = 1"_s << 0;
        QTest::newRow("cancelled") << u"DELETE FROM YOYAKU WHERE YNO = 1"_s << 0;
        QTest::newRow("moved to another hour") << u"UPDATE YOYAKU SET YTIME = '09' WHERE YNO = 1"_s << 0;
        QTest::newRow("moved to another day") << u"UPDATE YOYAKU SET YDATE = '2009/10/10' WHERE YNO = 1"_s << 0;
        QTest::newRow("number taken by another patient") << u"UPDATE YOYAKU SET KNM = '鈴木' WHERE YNO = 1"_s << 0;
    }

    void visitFlagOnlyForTheReservationTheLineShows()
    {
        QFETCH(QString, change);
        QFETCH(int, recorded);
        Workspace ws;
        ws.addReservation(Day, u"08"_s, u"O'Brien"_s);
        const QList<VisitEntry> lines = reservationsOfDayByVisit(ws.db, Day, 0);
        QCOMPARE(lines.size(), 1);
        if (!change.isEmpty()) {
            ws.db.write(change);
        }
        const bool written = change.isEmpty() || change.contains(u"CFLG"_s);
        QCOMPARE(setVisitFlag(ws.db, lines.first(), Day, 1), written);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE CFLG = 1"_s).toInt(), written ? 1 : 0);
        QCOMPARE(rows(ws.db), recorded);
        // The detail message follows the same rule: no details of another patient.
        QCOMPARE(reservationOfEntry(ws.db, lines.first(), Day).has_value(), written);
    }
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "tst_history.moc"
