// Maintenance of the database (deletions, backups, restore) and the history every change leaves: one
// row for every change, with its fields, written or undone with the change.
#include "db/Backup.h"
#include "db/Booking.h"
#include "db/Capacities.h"
#include "db/History.h"
#include "db/Maintenance.h"
#include "db/Schema.h"
#include "db/Visits.h"
#include "db/WebBooking.h"

#include "support/Common.h"
#include "support/Workspace.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTest>

#include <tuple>

#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace qrb;
using qrb::test::Workspace;

namespace {

const QString Day = u"2009/10/09"_s;
const QDateTime Moment(QDate(2009, 10, 9), QTime(10, 30, 5));

// The names in a database file, then "ok" when it is whole.
QStringList names(const QString &path)
{
    Database db(u"names"_s);
    db.DB_open(path);
    return test::rowsOf(db, u"SELECT KNM FROM YOYAKU ORDER BY YNO"_s) + test::rowsOf(db, u"PRAGMA integrity_check"_s);
}

// A booking of patient 77 at 2009/10/09 10時.
BookingRecord booking(const QString &name, const QString &tel)
{
    BookingRecord r = test::bookingOf(name, Day, u"10"_s, u"77"_s);
    r.tel1 = tel;
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
        BookingRecord second = booking(u"山田"_s, u"03-1"_s);
        second.ydate = u"2009/10/30"_s;
        second.sflg = second.scnt = 2;
        registerReservation(db, second, WhenFull::Overbook);
    } else if (action == u"cancel"_s) {
        cancelReservation(db, Day, u"10"_s, u"山田"_s);
    } else if (action == u"cancel loaded"_s) {
        cancelReservation(db, Day, u"10"_s, u"山田"_s, 1);
    } else if (action == u"arrive"_s || action == u"leave"_s) {
        setVisitFlag(db, line, Day, action == u"arrive"_s ? 1 : 0);
    } else if (action == u"capacities"_s) {
        CapacityTable table = loadCapacities(db);
        table.set_value(1, u"08"_s, 9);
        saveCapacities(db, table);
    } else if (action == u"delete all"_s) {
        deleteAllReservations(db);
    } else if (action == u"delete period"_s) {
        deleteReservationsBetween(db, Day, Day);
    } else if (action == u"compact"_s || action == u"restore"_s) {
        const QString backup = action == u"restore"_s ? *backupDatabase(db, Moment) : QString();
        db.DB_close();
        const QString message = test::messageOf([&] {
            backup.isEmpty() ? db.DB_compact(ws.target())
                             : void(restoreDatabase(backup, ws.dbPath(), Moment.addSecs(60), db.actor()));
        });
        db.DB_open(ws.target());
        if (!message.isEmpty()) {
            throw DbError(message);
        }
    }
}

} // namespace

class MaintenanceTest final : public QObject
{
    Q_OBJECT

private slots:
    // Deletions count what they remove and keep the capacities. A database of an earlier version,
    // without the history table, gets it when opened: the deletions leave their rows in it.
    // (Which reservations a period removes is followed through the maintenance screen.)
    void deletionsCountWhatTheyRemoveAndKeepCapacities()
    {
        Workspace ws;
        ws.db.write(u"DROP TABLE RIREKI"_s);
        ws.db.DB_close();
        ws.db.DB_open(ws.target());
        QCOMPARE(deleteAllReservations(ws.db), 0);
        for (const QString &day : {u"2009/10/09"_s, u"2009/10/09"_s, u"2009/10/10"_s, u"2010/01/04"_s}) {
            ws.addReservation(day, u"08"_s, u"山田"_s);
        }
        QCOMPARE(deleteReservationsBetween(ws.db, u"2009/10/09"_s, u"2009/10/10"_s), 3);
        QCOMPARE(deleteAllReservations(ws.db), 1);
        QCOMPARE(ws.db.scalar(u"SELECT (SELECT COUNT(*) FROM YOYAKU) || ' ' || COUNT(*) FROM SETTING"_s).toString(),
                 u"0 70"_s);
        QCOMPARE(rows(ws.db), 3);
    }

    // Two backups in one second do not meet. Restoring after a crash: the crashed file's log stays
    // with that file, kept as one more backup, and is never replayed into the restored one. Refused
    // while a QRB has the database open, and over a file whose reservation numbers cannot be read
    // (the restored file could hand them out again).
    void backupsAndRestoreNeverMeetAForeignLog()
    {
        Workspace ws;
        ws.addReservation(Day, u"08"_s, u"山田"_s);
        const std::optional<QString> backup = backupDatabase(ws.db, Moment);
        if (ws.onPostgres()) {
            // The server's own backups keep a shared database: no copy, nothing written into the folder.
            QVERIFY(!backup && !QFileInfo::exists(ws.folder() + u"/backup"_s));
            return;
        }
        QCOMPARE(*backup, ws.folder() + u"/backup/yoyaku_20091009_103005.db"_s);
        QCOMPARE(*backupDatabase(ws.db, Moment), ws.folder() + u"/backup/yoyaku_20091009_103005_2.db"_s);
        ws.addReservation(Day, u"09"_s, u"佐藤"_s);
        const QString message = test::messageOf([&] { restoreDatabase(*backup, ws.dbPath(), Moment, u"test"_s); });
        QVERIFY2(message.contains(u"使用中"_s), qPrintable(message));
        ws.db.DB_close();
        // A workstation that dies with its last booking still in the write-ahead log beside the file.
        if (const pid_t child = fork(); child == 0) {
            QSqlDatabase raw = openSqliteFile(u"crash"_s, ws.dbPath(), false);
            QSqlQuery(raw).exec(u"PRAGMA wal_autocheckpoint = 0"_s);
            QSqlQuery(raw).exec(u"INSERT INTO YOYAKU (YNO, KNM, CFLG) VALUES (99, '鈴木', 0)"_s);
            _exit(0);
        } else {
            waitpid(child, nullptr, 0);
        }
        QVERIFY(QFileInfo(ws.dbPath() + u"-wal"_s).size() > 0);

        const QString kept = restoreDatabase(*backup, ws.dbPath(), Moment.addSecs(60), u"test"_s);
        QCOMPARE(kept, ws.folder() + u"/backup/yoyaku_20091009_103105.db"_s);
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/TEMP.mdb"_s));
        QCOMPARE(names(ws.dbPath()) + names(*backup), (QStringList{u"山田"_s, u"ok"_s, u"山田"_s, u"ok"_s}));
        QCOMPARE(names(kept), (QStringList{u"山田"_s, u"佐藤"_s, u"鈴木"_s, u"ok"_s}));
        ws.db.DB_open(ws.target());
        QCOMPARE(ws.db.scalar(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);

        ws.db.DB_close();
        QVERIFY(test::writeFileBytes(ws.dbPath(), "not a database"));
        const QString refused =
            test::messageOf([&] { restoreDatabase(*backup, ws.dbPath(), Moment.addSecs(120), u"test"_s); });
        QVERIFY2(refused.contains(u"予約番号を読めません"_s), qPrintable(refused));
        QCOMPARE(test::fileBytes(ws.dbPath()), QByteArray("not a database"));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/TEMP.mdb"_s));
    }

    // A number once handed out is never handed out again, whatever removed its reservation. 山田 is
    // booked as number 1, the newest, the row's action follows, and the next booking gets `next`.
    // Rows another program wrote count; a restore carries the replaced file's numbers into the older
    // one; a database of an earlier version learns the numbers of cancelled reservations from its history.
    void numbersOnlyGrow_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("next");
        for (const char *action : {"cancel", "cancel loaded", "delete all", "delete period"}) {
            QTest::newRow(action) << QString::fromUtf8(action) << 2;
        }
        QTest::newRow("cancelled on the web") << u"web"_s << 2;
        QTest::newRow("compaction after a cancel") << u"compact"_s << 2;
        QTest::newRow("restore of a backup from before the booking") << u"restore"_s << 2;
        QTest::newRow("earlier version, cancelled") << u"earlier version"_s << 2;
        QTest::newRow("number 10 written by another program") << u"foreign"_s << 11;
    }
    void numbersOnlyGrow()
    {
        QFETCH(QString, action);
        QFETCH(int, next);
        Workspace ws(3);
        if (action == u"restore"_s && ws.onPostgres()) {
            QSKIP("a server's database is backed up and restored by the server's own tools");
        }
        const std::optional<QString> empty = action == u"restore"_s ? backupDatabase(ws.db, Moment) : std::nullopt;
        if (action == u"web"_s) {
            prepareWebBooking(ws.db);
            OnlineBooking web;
            web.first = booking(u"山田"_s, u"03-1"_s);
            std::tie(web.phoneDigits, web.today, web.codeHash, web.nonce) =
                std::tuple(u"031"_s, Moment.date(), QByteArray("hash"), QByteArray("nonce"));
            QCOMPARE(bookOnline(ws.db, web).yno, 1);
            QCOMPARE(cancelOnline(ws.db, 1), 1);
        } else {
            QCOMPARE(registerReservation(ws.db, booking(u"山田"_s, u"03-1"_s), WhenFull::Overbook).yno, 1);
        }
        if (action == u"compact"_s || action == u"earlier version"_s) {
            act(ws, u"cancel"_s);
        }
        if (action == u"earlier version"_s) {
            ws.db.write(u"DROP TABLE QRB_YNO"_s);
            ws.db.DB_close();
            ws.db.DB_open(ws.target());
        } else if (action == u"foreign"_s) {
            ws.db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (10, '他')"_s);
        } else if (action == u"restore"_s) {
            ws.db.DB_close();
            restoreDatabase(*empty, ws.dbPath(), Moment.addSecs(60), u"test"_s);
            ws.db.DB_open(ws.target());
            QCOMPARE(test::rowsOf(ws.db, u"SELECT KNM FROM YOYAKU"_s), QStringList{});
        } else if (action != u"web"_s) {
            act(ws, action);
        }
        QCOMPARE(registerReservation(ws.db, booking(u"鈴木"_s, u"03-2"_s), WhenFull::Overbook).yno, next);
    }

    // Each row: the action, its kind, the reservation number (-1: none), and what the row's before,
    // after and "count first last" hold (empty before or after: nothing; empty period: not checked).
    // The change and its row are one transaction: tried first with a row that cannot be written, the
    // change is undone and the connection serves the next one.
    void everyChangeLeavesOneRowWithItsFields_data()
    {
        QTest::addColumn<QStringList>("row");
        const auto add = [](const char *action, HistoryKind kind, int yno, const QString &before, const QString &after,
                            const QString &period = {}) {
            QTest::newRow(action) << QStringList{
                QString::fromUtf8(action), QString::number(int(kind)), QString::number(yno), before, after, period};
        };
        add("register", HistoryKind::Registered, 2, {}, u"\"KNM\":\"鈴木\""_s);
        add("overwrite", HistoryKind::Overwritten, 1, u"\"TEL1\":\"03-1\""_s, u"\"TEL1\":\"03-2\""_s);
        add("second dose", HistoryKind::SecondDose, 2, {}, u"\"SCNT\":2"_s);
        add("cancel", HistoryKind::Cancelled, 1, u"\"KNO\":\"77\""_s, {});
        add("cancel loaded", HistoryKind::Cancelled, 1, u"\"KNO\":\"77\""_s, {});
        add("arrive", HistoryKind::Arrived, 1, u"\"CFLG\":0"_s, u"\"CFLG\":1"_s);
        add("leave", HistoryKind::NotArrived, 1, u"\"CFLG\":1"_s, u"\"CFLG\":0"_s);
        add("capacities", HistoryKind::CapacitiesSaved, -1, u"{\"1-08\":3}"_s, u"{\"1-08\":9}"_s);
        add("delete all", HistoryKind::AllDeleted, -1, {}, {}, u"1  "_s);
        add("delete period", HistoryKind::PeriodDeleted, -1, {}, {}, u"1 2009/10/09 2009/10/09"_s);
        add("compact", HistoryKind::Compacted, -1, {}, {});
        add("restore", HistoryKind::Restored, -1, {}, u"_20091009_103005.db"_s, u"1  "_s);
    }
    void everyChangeLeavesOneRowWithItsFields()
    {
        QFETCH(QStringList, row);
        const QString action = row[0], before = row[3], after = row[4];
        const int yno = row[2].toInt();
        Workspace ws(3);
        if (action == u"restore"_s && ws.onPostgres()) {
            QSKIP("a server's database is backed up and restored by the server's own tools");
        }
        registerReservation(ws.db, booking(u"山田"_s, u"03-1"_s), WhenFull::Overbook);
        if (action == u"leave"_s) {
            ws.db.write(u"UPDATE YOYAKU SET CFLG = 1"_s);
        }
        // (a failed restore keeps its backup: the next one would be named otherwise)
        if (action != u"restore"_s) {
            const auto state = [&] {
                return test::rowsOf(ws.db, u"SELECT * FROM YOYAKU"_s) +
                       test::rowsOf(ws.db, u"SELECT * FROM SETTING ORDER BY 1, 2"_s) +
                       test::rowsOf(ws.db, u"SELECT COUNT(*) FROM RIREKI"_s);
            };
            const QStringList was = state();
            ws.db.setActor(QString()); // the row's workstation is required: writing the row fails
            QVERIFY_THROWS_EXCEPTION(DbError, act(ws, action));
            QCOMPARE(state(), was);
        }
        ws.db.setActor(u"受付1 田中"_s);
        const QString start = QDateTime::currentDateTime().toString(u"yyyy/MM/dd HH:mm:ss"_s);
        act(ws, action);
        const QString end = QDateTime::currentDateTime().toString(u"yyyy/MM/dd HH:mm:ss"_s);

        QCOMPARE(rows(ws.db), 2);
        const HistoryEntry e = historyOf(ws.db, HistoryKey::Day, start.left(10)).constFirst();
        QCOMPARE(u"%1 %2 %3"_s.arg(int(e.kind)).arg(e.yno.value_or(-1)).arg(e.where),
                 row[1] + u' ' + row[2] + u" 受付1 田中"_s);
        QVERIFY2(e.when >= start && e.when <= end, qPrintable(e.when));
        QVERIFY2(before.isEmpty() ? e.before.isEmpty() : e.before.contains(before), qPrintable(e.before));
        QVERIFY2(after.isEmpty() ? e.after.isEmpty() : e.after.contains(after), qPrintable(e.after));
        if (!row[5].isEmpty()) {
            QCOMPARE(u"%1 %2 %3"_s.arg(e.count.value_or(-1)).arg(e.first, e.last), row[5]);
        }
        if (yno > 0) {
            QCOMPARE(e.knm, action == u"register"_s ? u"鈴木"_s : u"山田"_s);
            QCOMPARE(historyOf(ws.db, HistoryKey::ReservationNumber, QString::number(yno)).constFirst().hno, e.hno);
            QCOMPARE(historyOf(ws.db, HistoryKey::Name, e.knm.left(1)).constFirst().hno, e.hno);
        }
    }

    // A line changes only the reservation it shows, and only a change is recorded; the detail message
    // follows the same rule: no details of another patient.
    void visitFlagOnlyForTheReservationTheLineShows_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("unchanged") << QString();
        QTest::newRow("already came") << u"UPDATE YOYAKU SET CFLG = 1"_s;
        QTest::newRow("cancelled") << u"DELETE FROM YOYAKU WHERE YNO = 1"_s;
        QTest::newRow("moved to another hour") << u"UPDATE YOYAKU SET YTIME = '09' WHERE YNO = 1"_s;
        QTest::newRow("moved to another day") << u"UPDATE YOYAKU SET YDATE = '2009/10/10' WHERE YNO = 1"_s;
        QTest::newRow("number taken by another patient") << u"UPDATE YOYAKU SET KNM = '鈴木' WHERE YNO = 1"_s;
    }
    void visitFlagOnlyForTheReservationTheLineShows()
    {
        QFETCH(QString, change);
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
        QCOMPARE(rows(ws.db), change.isEmpty() ? 1 : 0);
        QCOMPARE(reservationOfEntry(ws.db, lines.first(), Day).has_value(), written);
    }
};

QTEST_GUILESS_MAIN(MaintenanceTest)
#include "tst_maintenance.moc"
