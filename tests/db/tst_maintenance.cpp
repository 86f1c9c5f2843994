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

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
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

// What a database file holds as the next desk to open it reads it (a log a crash left taken in or
// undone): each name with its count, then "ok" when the file is whole.
QStringList contents(const QString &path)
{
    Database db(u"contents"_s);
    db.DB_open(path);
    return test::rowsOf(db, u"SELECT KNM, COUNT(*) FROM YOYAKU GROUP BY KNM ORDER BY KNM"_s)
           + test::rowsOf(db, u"PRAGMA integrity_check"_s);
}

// The same of a copy of the file and its logs, so that the file itself stays as the crash left it.
QStringList contentsOfCopy(const QString &path)
{
    QTemporaryDir copy;
    const QString to = copy.filePath(QFileInfo(path).fileName());
    for (const QString &suffix : {u""_s, u"-wal"_s, u"-journal"_s}) {
        QFile::copy(path + suffix, to + suffix);
    }
    return contents(to);
}

// A workstation that dies: with its booking 鈴木 committed into the write-ahead log ("wal"), or in the
// middle of changing every reservation of a file in rollback-journal mode, its pages spilled into the
// file and the journal left hot ("journal").
void crash(const QString &path, const QString &how)
{
    if (const pid_t child = fork(); child == 0) {
        QSqlDatabase raw = openSqliteFile(u"crash"_s, path, false);
        if (how == u"wal"_s) {
            QSqlQuery(raw).exec(u"PRAGMA wal_autocheckpoint = 0"_s);
            QSqlQuery(raw).exec(u"INSERT INTO YOYAKU (YNO, KNM, CFLG) VALUES (99, '鈴木', 0)"_s);
        } else {
            QSqlQuery(raw).exec(u"PRAGMA cache_size = 2"_s);
            QSqlQuery(raw).exec(u"BEGIN"_s);
            QSqlQuery(raw).exec(u"UPDATE YOYAKU SET KNM = '取り消されるはずの変更'"_s);
        }
        _exit(0);
    } else {
        waitpid(child, nullptr, 0);
    }
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
        deleteAllReservations(db, Moment);
    } else if (action == u"delete period"_s) {
        deleteReservationsBetween(db, Day, Day, Moment);
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
        QCOMPARE(deleteAllReservations(ws.db, Moment).count, 0);
        for (const QString &day : {u"2009/10/09"_s, u"2009/10/09"_s, u"2009/10/10"_s, u"2010/01/04"_s}) {
            ws.addReservation(day, u"08"_s, u"山田"_s);
        }
        QCOMPARE(deleteReservationsBetween(ws.db, u"2009/10/09"_s, u"2009/10/10"_s, Moment).count, 3);
        QCOMPARE(deleteAllReservations(ws.db, Moment).count, 1);
        QCOMPARE(ws.db.scalar(u"SELECT (SELECT COUNT(*) FROM YOYAKU) || ' ' || COUNT(*) FROM SETTING"_s).toString(),
                 u"0 70"_s);
        QCOMPARE(rows(ws.db), 3);
    }

    // Two backups in one second do not meet. A restore is refused while a QRB has the database open,
    // and over a file that cannot be read (nor its reservation numbers, which the restored file could
    // hand out again).
    void backupsNeverMeetAndRestoreWaitsForEveryDesk()
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
        const QString message = test::messageOf([&] { restoreDatabase(*backup, ws.dbPath(), Moment, u"test"_s); });
        QVERIFY2(message.contains(u"使用中"_s), qPrintable(message));

        ws.db.DB_close();
        QVERIFY(test::writeFileBytes(ws.dbPath(), "not a database"));
        const QString refused =
            test::messageOf([&] { restoreDatabase(*backup, ws.dbPath(), Moment.addSecs(120), u"test"_s); });
        QVERIFY2(refused.contains(u"データベースの復元に失敗しました。データベースは元のままです。"_s), qPrintable(refused));
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

    // A restore or a compaction of a file a crashed workstation left with its log, killed (SIGKILL)
    // just before each step that changes a file or makes it last: the desk then finds the old
    // database or the new one, whole, and whatever was replaced is kept whole in the backup folder.
    // Run again, the job either goes through or names every file a killed one left, and goes through
    // once they are removed.
    void restoreAndCompactionKilledAtEveryStep_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<QString>("crash");
        QTest::newRow("restore, booking in the write-ahead log") << u"restore"_s << u"wal"_s;
        QTest::newRow("restore, hot rollback journal") << u"restore"_s << u"journal"_s;
        QTest::newRow("compaction, hot rollback journal") << u"compact"_s << u"journal"_s;
    }
    void restoreAndCompactionKilledAtEveryStep()
    {
        QFETCH(QString, job);
        QFETCH(QString, crash);
        if (test::testServer()) {
            QSKIP("a server's database is backed up and restored by the server's own tools");
        }
        const QString strace = QStandardPaths::findExecutable(u"strace"_s);
        QVERIFY2(!strace.isEmpty(), "strace is missing: scripts/deps.sh installs it");
        // The folder as the crash left it, copied afresh for every kill.
        Workspace ws;
        ws.addReservation(Day, u"08"_s, u"山田"_s);
        ws.db.write(u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, BIKO) WITH RECURSIVE n(i) AS "
                    "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60) "
                    "SELECT 100 + i, '先の予約', ?, '09', ? FROM n"_s,
                    {Day, QString(300, u'備')});
        const QString backupName = QFileInfo(*backupDatabase(ws.db, Moment)).fileName();
        ws.addReservation(Day, u"10"_s, u"佐藤"_s);
        if (crash == u"journal"_s) {
            QCOMPARE(ws.db.scalar(u"PRAGMA journal_mode = DELETE"_s).toString(), u"delete"_s);
        }
        ws.db.DB_close();
        ::crash(ws.dbPath(), crash);
        QVERIFY(QFileInfo(ws.dbPath() + u'-' + crash).size() > 0);
        QVERIFY(test::writeFileBytes(ws.folder() + u"/setting.ini"_s,
                                     "[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=.\r\n"));
        const QStringList old = contentsOfCopy(ws.dbPath());
        QVERIFY(old.contains(u"佐藤 1"_s) && old.contains(u"ok"_s));
        const QStringList restored = job == u"restore"_s ? contentsOfCopy(ws.folder() + u"/backup/"_s + backupName) : old;

        int kills = 0;
        for (const QString &step : {u"link,linkat"_s, u"rename,renameat,renameat2"_s, u"unlink,unlinkat"_s,
                                    u"fsync,fdatasync"_s}) {
            for (int n = 1;; ++n) {
                QVERIFY2(n < 60, qPrintable(step));
                // (in memory where there is a tmpfs: the order of the steps is what is tried, not the disk)
                QTemporaryDir run(QFileInfo(u"/dev/shm"_s).isWritable() ? u"/dev/shm/qrb-killed-XXXXXX"_s
                                                                        : QDir::tempPath() + u"/qrb-killed-XXXXXX"_s);
                QVERIFY(QDir(run.path()).mkdir(u"backup"_s));
                for (const QString &file : QDir(ws.folder()).entryList(QDir::Files)
                                               + QStringList{u"backup/"_s + backupName}) {
                    QVERIFY(QFile::copy(ws.folder() + u'/' + file, run.filePath(file)));
                }
                const QString path = run.filePath(u"yoyaku.db"_s);
                const QString backup = run.filePath(u"backup/"_s + backupName);
                const QStringList program =
                    job == u"restore"_s
                        ? QStringList{test::binDir() + u"/tools/qrb-restore"_s, backup}
                        : QStringList{QCoreApplication::applicationFilePath(), u"--compact"_s, path};
                const test::Run killed = test::runProgram(
                    strace,
                    QStringList{u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s, u"trace="_s + step, u"-e"_s,
                                u"inject=%1:signal=KILL:when=%2"_s.arg(step).arg(n)} + program,
                    run.path());
                const QString at = u"%1 #%2"_s.arg(step).arg(n);
                QVERIFY2(killed.code <= 0, qPrintable(at + killed.err));
                const QStringList found = contents(path);
                QVERIFY2(found == old || found == restored, qPrintable(at + u": "_s + found.join(u' ')));
                if (killed.code == 0) {
                    QCOMPARE(found, restored);
                    break;
                }
                ++kills;

                // Again, as the administrator would after reading what it says.
                test::Run again = test::runProgram(program.first(), program.mid(1), run.path());
                if (again.code != 0) {
                    const QStringList left = QDir(run.path()).entryList({u"TEMP.mdb*"_s}, QDir::Files);
                    QVERIFY2(!left.isEmpty(), qPrintable(at + again.err));
                    for (const QString &file : left) {
                        QVERIFY2(again.err.contains(run.filePath(file)), qPrintable(at + again.err));
                        QVERIFY(QFile::remove(run.filePath(file)));
                    }
                    again = test::runProgram(program.first(), program.mid(1), run.path());
                }
                QVERIFY2(again.code == 0, qPrintable(at + again.err));
                QCOMPARE(contents(path), restored);
                // What was replaced is kept whole; the old reservations are never lost.
                QStringList kept;
                for (const QString &file : QDir(run.filePath(u"backup"_s)).entryList(QDir::Files)) {
                    if (file != backupName) {
                        kept << contents(run.filePath(u"backup/"_s + file)).join(u' ');
                    }
                }
                QVERIFY2(kept.contains(old.join(u' ')) || job == u"compact"_s, qPrintable(at));
                QVERIFY2(std::all_of(kept.begin(), kept.end(),
                                     [&](const QString &k) { return k == old.join(u' ') || k == restored.join(u' '); }),
                         qPrintable(at));
            }
        }
        QVERIFY(kills > 5);
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

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The maintenance screen's compaction of a file, as a program of its own that a test can kill.
    if (argc == 3 && QByteArray(argv[1]) == "--compact") {
        const QString message =
            test::messageOf([&] { Database(u"compactor"_s).DB_compact(QString::fromLocal8Bit(argv[2])); });
        QTextStream(stderr) << message << Qt::endl;
        return message.isEmpty() ? 0 : 1;
    }
    MaintenanceTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_maintenance.moc"
