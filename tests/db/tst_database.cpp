// Which database the program opens (setting.ini, a connection string), and that it behaves the same on
// SQLite and on PostgreSQL: made by qrb-initdb, opened only when it is a reservation database this user
// can write, transactions, reading while counting, a server that ends the session, and compaction (and
// a backup) that never loses a booking.
#include "config/IniFile.h"
#include "db/Backup.h"
#include "db/Booking.h"
#include "db/Database.h"
#include "db/Reservation.h"
#include "db/Schema.h"
#include "shared/Dates.h"
#include "support/Common.h"
#include "support/FullDisk.h"
#include "support/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace qrb;
using test::messageOf;

namespace {

const QString Day = u"2009/10/09"_s;

// Books `count` reservations of 2009/10/09 08時, numbered from 1, each with a long note, in one go.
void bookMany(Database &db, int count)
{
    Database::WriteTransaction t(db);
    for (int i = 0; i < count; ++i) {
        db.write(u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, BIKO) VALUES (?, '先の予約', ?, '08', ?)"_s,
                 {i + 1, Day, QString(300, u'備')});
    }
    t.commit();
}

// Every file of a folder and what it holds.
QMap<QString, QByteArray> folderState(const QString &folder)
{
    QMap<QString, QByteArray> state;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        state.insert(name, test::fileBytes(folder + u'/' + name));
    }
    return state;
}

// Another program on the same database: this test binary started with --hold KIND sqlite=PATH or
// pg=CONNINFO opens it (KIND qrb: as QRB does, announcing itself with its lock; raw: as a program that
// does not), books reservation 1000, says "ready", keeps the database open until its input closes, and
// then says how many reservations it still reads through that same connection.
int holdDatabase(const QString &kind, const QString &at)
{
    const DbTarget target =
        at.startsWith(u"pg="_s) ? DbTarget::server(PgServer::fromConnInfo(at.mid(3))) : DbTarget::sqlite(at.mid(7));
    const QString book =
        u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG) VALUES (1000, '後の予約', '2009/10/09', '08', 0)"_s;
    const QString count = u"SELECT COUNT(*) FROM YOYAKU"_s;
    Database db(u"holder"_s);
    QSqlDatabase raw;
    if (kind == u"qrb"_s) {
        db.DB_open(target);
        db.write(book);
    } else {
        raw = target.isPostgres() ? connectPgServer(u"raw"_s, *target.postgres)
                                  : openSqliteFile(u"raw"_s, target.sqlitePath, false);
        QSqlQuery(raw).exec(book);
    }
    QTextStream(stdout) << "ready" << Qt::endl;
    QTextStream(stdin).readAll();
    QSqlQuery counted(raw);
    QTextStream(stdout) << (raw.isOpen() && counted.exec(count) && counted.next() ? counted.value(0).toInt()
                                                                                  : db.scalar(count).toInt())
                        << Qt::endl;
    return 0;
}

// The tables of a PostgreSQL database, by name, read without requiring any.
QStringList serverTables(const PgServer &server)
{
    Database db(u"catalogue"_s);
    db.openEmpty(DbTarget::server(server));
    return test::rowsOf(db, u"SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY tablename"_s);
}

// As root, which may write anything, a check of permissions runs as "nobody"; empty when it cannot
// (root of a user namespace has no "nobody").
std::optional<QStringList> asAnotherUser()
{
    if (geteuid() != 0) {
        return QStringList{};
    }
    if (test::fileBytes(u"/proc/self/uid_map"_s).simplified() != "0 0 4294967295") {
        return std::nullopt;
    }
    return QStringList{u"setpriv"_s, u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s};
}

// What a target names: the file, or the server's fields with "|" between them.
QString fields(const DbTarget &t)
{
    const std::optional<PgServer> &s = t.postgres;
    return s ? u"%1|%2|%3|%4|%5|%6|%7"_s.arg(s->host).arg(s->port).arg(s->dbname, s->user, s->password, s->sslmode,
                                                                       s->sslrootcert)
             : t.sqlitePath;
}

} // namespace

class DatabaseTest : public QObject
{
    Q_OBJECT

private slots:
    // A new file in the folder, or the tables in a new, empty database on the test server.
    void initdbMakesOnceAndRefusesAgain()
    {
        QTemporaryDir dir;
        std::optional<test::ScratchDatabase> scratch;
        DbTarget target = DbTarget::sqlite(dir.filePath(u"new.db"_s));
        if (const std::optional<PgServer> server = test::testServer()) {
            target = DbTarget::server(scratch.emplace(*server).server());
        }
        const auto initdb = [&](const QString &places) {
            return test::runProgram(test::binDir() + u"/tools/qrb-initdb"_s,
                                    (target.postgres ? QStringList{u"--pg"_s, target.postgres->connInfo()}
                                                     : QStringList{target.sqlitePath}) +
                                        QStringList{u"--places"_s, places});
        };
        // A wrong number of places makes nothing.
        QVERIFY(initdb(u"-1"_s).code > 0);
        QVERIFY(target.postgres ? serverTables(*target.postgres).isEmpty() : !QFile::exists(target.sqlitePath));
        QCOMPARE(initdb(u"4"_s).code, 0);
        Database db;
        db.DB_open(target);
        const QString made = u"SELECT COUNT(*) || ' ' || SUM(NINZU) || ' ' || COUNT(DISTINCT NINZU) || ' ' || "
                             "(SELECT COUNT(*) FROM YOYAKU) FROM SETTING"_s;
        QCOMPARE(db.scalar(made).toString() + QString::number(NINZU_cnt(db, 7, u"17"_s)), u"70 280 1 04"_s);
        // YNO is unique: a second row with the same number is refused by the engine itself.
        db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'a')"_s);
        QVERIFY_THROWS_EXCEPTION(DbError, db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'b')"_s));
        db.DB_close();

        // An existing reservation database is never made again: not the file, not the tables.
        const QByteArray before = test::fileBytes(target.sqlitePath);
        const test::Run again = initdb(u"7"_s);
        QCOMPARE(again.code, 1);
        QVERIFY2(QString(again.out + again.err).contains(u"上書きはしません"_s), qPrintable(again.err));
        QCOMPARE(test::fileBytes(target.sqlitePath), before);
        db.DB_open(target);
        QCOMPARE(db.scalar(made).toString(), u"70 280 1 1"_s);
    }

    // qrb-initdb on a disk that fills up at some point of its work: it fails and leaves no file (no log
    // of a file that is gone), or it succeeds with the schema in the file itself.
    void initdbOnAFullDisk_data()
    {
        QTest::addColumn<int>("room"); // KiB left free
        for (const int room : {0, 36, 48, 60, 80, 200}) {
            QTest::addRow("%d KiB free", room) << room;
        }
    }
    void initdbOnAFullDisk()
    {
        QFETCH(int, room);
        test::FullDisk disk;
        QRB_REQUIRE_MOUNTED(disk);
        disk.fill(room * 1024);
        const QString path = disk.path() + u"/yoyaku.db"_s;
        const int code = test::runProgram(test::binDir() + u"/tools/qrb-initdb"_s, {path, u"--places"_s, u"3"_s}).code;
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), code == 0 ? QStringList{u"yoyaku.db"_s} : QStringList{});
        if (code == 0) {
            disk.release();
            Database db;
            db.DB_open(path);
            QCOMPARE(NINZU_cnt(db, 1, u"08"_s), 3);
        }
    }

    // What start-up cannot use is refused, with the reason and the name, and changes nothing. A file:
    // `name` in a new folder holding `content` ("db": a reservation database; none: not made), then made
    // unwritable where `locked` names it, opened as start-up opens it by a user who may not write what
    // is locked (a -shm only that user could write would keep the database read-only for the others).
    // On the server: a database that does not exist, or one holding what `content` creates.
    void openingWhatCannotBeUsedChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("locked");
        QTest::addColumn<QString>("reason");
        const QString db = u"yoyaku.db"_s;
        // A reservation database ("db") with one of its tables changed by another program: the table
        // and the columns it lacks are named.
        QTest::newRow("history of another program")
            << db << QByteArray("db;DROP TABLE RIREKI;CREATE TABLE RIREKI (HNO INTEGER, NOTE TEXT)") << QString()
            << u"表 RIREKI に列 HWHEN, HWHERE, HWHAT"_s;
        QTest::newRow("web bookings of another shape")
            << db << QByteArray("db;CREATE TABLE WEBYOYAKU (YNO INTEGER, CODE TEXT)") << QString()
            << u"表 WEBYOYAKU に列 YDATE"_s;
        QTest::newRow("reservations with a column renamed")
            << db << QByteArray("db;ALTER TABLE YOYAKU RENAME COLUMN TEL2 TO TEL_2") << QString()
            << u"表 YOYAKU に列 TEL2 がありません"_s;
        if (test::testServer()) {
            QTest::newRow("missing database") << QString() << QByteArray() << QString() << u"does not exist"_s;
            QTest::newRow("empty database") << db << QByteArray() << QString() << u"YOYAKU"_s;
            QTest::newRow("another program's tables")
                << db << QByteArray("CREATE TABLE NOTES (LINE TEXT)") << QString() << u"YOYAKU"_s;
            return;
        }
        QTest::newRow("missing file") << u"gone/yoyaku.db"_s << QByteArray() << QString() << u"見つかりません"_s;
        QTest::newRow("text file") << db << QByteArray("this is no database\n") << QString() << u"開けません"_s;
        // SQLite reads an empty file as an empty database.
        QTest::newRow("empty file") << db << QByteArray("") << QString() << u"YOYAKU"_s;
        QTest::newRow("read-only file") << db << QByteArray("db") << db << u"書き込めない"_s;
        QTest::newRow("read-only folder") << db << QByteArray("db") << u"."_s << u"書き込めない"_s;
        QTest::newRow("another user's -shm") << db << QByteArray("db") << u"yoyaku.db-shm"_s << u"書き込めない"_s;
    }
    void openingWhatCannotBeUsedChangesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, locked);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        if (const std::optional<PgServer> server = test::testServer()) {
            test::ScratchDatabase scratch(*server);
            DbTarget target = DbTarget::server(scratch.server());
            target.postgres->dbname += name.isEmpty() ? u"_gone"_s : QString();
            QStringList changes = QString::fromUtf8(content).split(u';', Qt::SkipEmptyParts);
            if (content.startsWith("db")) {
                createDatabase(target, 0);
                changes.removeFirst();
            }
            Database other(u"other"_s);
            for (const QString &sql : std::as_const(changes)) {
                other.openEmpty(target);
                other.write(sql);
            }
            other.DB_close();
            const QStringList tables = name.isEmpty() ? QStringList{} : serverTables(*target.postgres);
            Database db;
            const QString message = messageOf([&] { db.DB_open(target); });
            QVERIFY2(message.contains(target.postgres->dbname) && message.contains(reason), qPrintable(message));
            QVERIFY(!db.isOpen());
            // (a database made where there was none would have opened)
            QCOMPARE(name.isEmpty() ? QStringList{} : serverTables(*target.postgres), tables);
            QCOMPARE(tables.isEmpty(), content.isEmpty());
            return;
        }
        const QString path = dir.filePath(name);
        if (content.startsWith("db")) {
            createDatabaseFile(path, 0);
            {
                QSqlDatabase other = openSqliteFile(u"other"_s, path, false);
                for (const QByteArray &sql : content.split(';').mid(1)) {
                    QVERIFY(QSqlQuery(other).exec(QString::fromUtf8(sql)));
                }
                other.close();
            }
            QSqlDatabase::removeDatabase(u"other"_s);
        } else if (!content.isNull()) {
            QVERIFY(test::writeFileBytes(path, content));
        }
        if (locked.endsWith(u"-shm"_s)) {
            QVERIFY(test::writeFileBytes(dir.filePath(locked), {}));
        }
        for (const QString &entry : QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotDot)) {
            const mode_t mode = entry == u"."_s ? 0777 : 0666;
            QVERIFY(::chmod(QFile::encodeName(dir.filePath(entry)).constData(), entry == locked ? mode & 0555 : mode) ==
                    0);
        }
        const std::optional<QStringList> as = asAnotherUser();
        if (!as && !locked.isEmpty()) {
            QSKIP("root of a user namespace cannot become nobody: run this as a user, or as root");
        }
        const QMap<QString, QByteArray> before = folderState(dir.path());
        QStringList command = as.value_or(QStringList{})
                              << QCoreApplication::applicationFilePath() << u"--open"_s << path;
        const test::Run run = test::runProgram(command.takeFirst(), command);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.out.contains(locked == u"."_s ? dir.path() : name) && run.out.contains(reason),
                 qPrintable(run.out));
        QCOMPARE(folderState(dir.path()), before);
    }

    // A database of an earlier version, without the search indexes, opened by several programs at the
    // same moment: each index is added once, and none of them reports a failure.
    void olderDatabaseOpenedByManyAtOnce()
    {
        test::Workspace ws;
        ws.db.write(u"INSERT INTO YOYAKU (YNO, KNM, KKNM, YDATE, YTIME, TEL1, TEL2) WITH RECURSIVE n(i) AS "
                    "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                    "SELECT i, 'カナ' || i, 'ｶﾅ', '2009/10/09', '08', '03-' || i, '090-' || i FROM n"_s);
        for (const QString &index : {u"YOYAKU_TEL1_FOLDED"_s, u"YOYAKU_TEL2_FOLDED"_s, u"YOYAKU_LIST"_s}) {
            ws.db.write(u"DROP INDEX "_s + index);
        }
        ws.db.DB_close();
        const DbTarget target = ws.target();
        const QString at =
            target.postgres ? u"pg="_s + target.postgres->connInfo() : u"sqlite="_s + target.sqlitePath;
        std::vector<std::unique_ptr<QProcess>> openers;
        for (int i = 0; i < 6; ++i) {
            openers.push_back(std::make_unique<QProcess>());
            openers.back()->start(QCoreApplication::applicationFilePath(), {u"--open-when-told"_s, at});
        }
        for (const auto &opener : openers) {
            QVERIFY(opener->waitForReadyRead(10000));
        }
        for (const auto &opener : openers) {
            opener->write("go\n");
            opener->closeWriteChannel();
        }
        for (const auto &opener : openers) {
            QVERIFY(opener->waitForBytesWritten(10000));
        }
        for (const auto &opener : openers) {
            QVERIFY(opener->waitForFinished(60000));
            const QString said = QString::fromUtf8(opener->readAllStandardError());
            QVERIFY2(opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0 && said.isEmpty(),
                     qPrintable(said));
        }
        ws.db.DB_open(target);
        QCOMPARE(ws.db.scalar(target.postgres ? u"SELECT COUNT(*) FROM pg_indexes WHERE indexname IN "
                                                "('yoyaku_tel1_folded', 'yoyaku_tel2_folded', 'yoyaku_list')"_s
                                              : u"SELECT COUNT(*) FROM sqlite_master WHERE name IN "
                                                "('YOYAKU_TEL1_FOLDED', 'YOYAKU_TEL2_FOLDED', 'YOYAKU_LIST')"_s)
                     .toInt(),
                 3);
    }

    // Only what was committed stays. A failing statement inside a transaction: the error reaches the
    // caller, the transaction is undone, and the connection serves the next one (PostgreSQL refuses
    // everything in a failed transaction until it is rolled back). Counting while walking rows sees
    // every row, and the walk goes on.
    void transactionKeepsOnlyWhatWasCommitted()
    {
        test::Workspace ws(2);
        {
            Database::WriteTransaction t(ws.db);
            ws.addReservation(Day, u"10"_s, u"取消"_s);
        }
        {
            Database::WriteTransaction t(ws.db);
            ws.addReservation(Day, u"10"_s, u"山田"_s);
            t.commit();
        }
        QVERIFY(!messageOf([&] {
                     Database::WriteTransaction t(ws.db);
                     ws.addReservation(Day, u"11"_s, u"途中"_s);
                     ws.db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (?, ?)"_s, {1, u"重複"_s});
                     t.commit();
                 }).isEmpty());
        QCOMPARE(ws.addReservation(Day, u"11"_s, u"鈴木"_s), 2);
        QCOMPARE(ws.db.scalar(u"SELECT MIN(KNM) || MAX(KNM) || COUNT(*) FROM YOYAKU"_s).toString(), u"山田鈴木2"_s);
        // A statement the engine refuses says why, in the engine's words.
        const QString message =
            messageOf([&] { ws.db.scalar(u"SELECT NOSUCHFIELD FROM YOYAKU WHERE YNO = ?"_s, {1}); });
        QVERIFY2(message.contains(u"nosuchfield"_s, Qt::CaseInsensitive), qPrintable(message));
        QList<int> counts;
        ws.db.forEachRow(u"SELECT YTIME FROM YOYAKU ORDER BY YNO"_s, {}, [&](const QSqlQuery &q) {
            counts << YOYAKU_cnt(ws.db, Day, q.value(0).toString()) << NINZU_cnt(ws.db, 5, q.value(0).toString());
        });
        QCOMPARE(counts, (QList<int>{1, 2, 1, 2}));
        // Counting attempts may leave the flush to a later commit; the next write, a reservation maybe,
        // is flushed on its own commit again, whether the count was committed or undone.
        const auto flushed = [&] {
            return ws.onPostgres() ? ws.db.scalar(u"SHOW synchronous_commit"_s).toString() == u"on"_s
                                   : ws.db.scalar(u"PRAGMA synchronous"_s).toInt() == 2;
        };
        for (const bool keep : {true, false}) {
            {
                Database::WriteTransaction t(ws.db, Database::WriteTransaction::Lock::NoTables,
                                             Database::WriteTransaction::Flush::Later);
                QVERIFY(!flushed());
                if (keep) {
                    t.commit();
                }
            }
            QVERIFY(flushed());
        }
    }

    // The server ends the program's session (a restart, an administrator): the next action goes on,
    // on a new session. A read is simply run again; a write that met the end is reported as not known
    // to be stored, and is not repeated.
    void sessionEndedByTheServer()
    {
        test::Workspace ws;
        if (!ws.onPostgres()) {
            QSKIP("a server's session");
        }
        ws.addReservation(Day, u"08"_s, u"山田"_s);
        Database admin(u"admin"_s);
        admin.DB_open(ws.target());
        const auto endSession = [&] {
            const int pid = ws.db.scalar(u"SELECT pg_backend_pid()"_s).toInt();
            QVERIFY(admin.scalar(u"SELECT pg_terminate_backend(?)"_s, {pid}).toBool());
            QTRY_COMPARE(admin.scalar(u"SELECT COUNT(*) FROM pg_stat_activity WHERE pid = ?"_s, {pid}).toInt(), 0);
        };
        endSession();
        QCOMPARE(YOYAKU_cnt(ws.db, Day, u"08"_s), 1);
        endSession();
        QCOMPARE(registerReservation(ws.db, test::bookingOf(u"佐藤"_s, Day, u"08"_s), WhenFull::Overbook).yno, 2);
        // A write prepared on the old session fails only once it is sent: the program cannot tell
        // whether the server stored it before the end, and says so.
        const QString visit = u"UPDATE YOYAKU SET CFLG = ? WHERE YNO = ?"_s;
        ws.db.write(visit, {0, 1});
        endSession();
        const QString message = messageOf([&] { ws.db.write(visit, {1, 1}); });
        QVERIFY2(message.contains(u"分かりません"_s), qPrintable(message));
        QCOMPARE(admin.scalar(u"SELECT SUM(CFLG) FROM YOYAKU"_s).toInt(), 0);
        QCOMPARE(YOYAKU_cnt(ws.db, Day, u"08"_s), 2);
    }

    void compactionKeepsEveryReservation()
    {
        test::Workspace ws;
        // A file reached through a link, and shared with other accounts through its group: the link
        // stays a link to the one file, which keeps its owner, group and permissions.
        const QString real = ws.folder() + u"/shared/yoyaku.db"_s;
        const uid_t owner = geteuid() == 0 ? 1234 : geteuid();
        const gid_t group = geteuid() == 0 ? 4321 : getegid();
        if (ws.onPostgres()) {
            // Measured before and after the compaction alone, not after a vacuum of the server's own.
            ws.db.write(u"ALTER TABLE YOYAKU SET (autovacuum_enabled = false)"_s);
        } else {
            ws.db.DB_close();
            QVERIFY(QDir(ws.folder()).mkdir(u"shared"_s) && QFile::rename(ws.dbPath(), real) &&
                    QFile::link(real, ws.dbPath()));
            QVERIFY(::chown(QFile::encodeName(real).constData(), owner, group) == 0 &&
                    ::chmod(QFile::encodeName(real).constData(), 0664) == 0);
            ws.db.DB_open(ws.target());
        }
        // What the reservations take: the file's pages, or on the server the pages of the table's rows
        // (its indexes keep their size, and a vacuum adds the maps of free room).
        const auto storedSize = [&] {
            return ws.db.scalar(ws.onPostgres() ? u"SELECT pg_relation_size('yoyaku')"_s : u"PRAGMA page_count"_s)
                .toLongLong();
        };
        bookMany(ws.db, 300);
        ws.db.write(u"DELETE FROM YOYAKU WHERE YNO > 10"_s);
        const qint64 before = storedSize();
        QVERIFY(messageOf([&] { ws.db.DB_compact(ws.target()); }).contains(u"閉じて"_s));
        ws.db.DB_close();
        ws.db.DB_compact(ws.target());
        QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s) && !QFile::exists(ws.folder() + u"/shared/TEMP.mdb"_s));
        struct stat st = {};
        if (!ws.onPostgres()) {
            QVERIFY(::stat(QFile::encodeName(real).constData(), &st) == 0);
            QCOMPARE(u"%1 %2 %3 %4"_s.arg(QFileInfo(ws.dbPath()).symLinkTarget())
                         .arg(st.st_mode & 07777, 0, 8)
                         .arg(st.st_uid)
                         .arg(st.st_gid),
                     u"%1 664 %2 %3"_s.arg(real).arg(owner).arg(group));
        }
        ws.db.DB_open(ws.target());
        // The room of the deleted reservations is given back: the file, or the table on the server.
        QVERIFY(storedSize() < before);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) || ' ' || MAX(YNO) FROM YOYAKU WHERE YTIME = '08'"_s).toString(),
                 u"10 10"_s);
        const QString vacuumed = u"SELECT COUNT(*) FROM pg_stat_user_tables "
                                 "WHERE relname IN ('yoyaku', 'setting') AND last_vacuum IS NOT NULL"_s;
        QVERIFY(!ws.onPostgres() || ws.db.scalar(vacuumed).toInt() == 2);
    }

    // A compaction that cannot run says why and leaves the file as it was, and nothing beside it; once
    // the obstacle is gone it goes ahead, and bookings are still flushed before they count. Obstacles:
    // someone's TEMP.mdb where the copy would go (on the server: a user who does not own the tables);
    // another QRB, or another program that does not announce itself, with its booking still in the
    // write-ahead log beside a SQLite file (a copy would lose it, or replay it into the wrong file; the
    // server's VACUUM needs no one to stop, and the other keeps reading through its connection); a
    // disk too full for the copy.
    void compactionThatCannotRunChangesNothing_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("reason");
        const bool server = test::testServer().has_value();
        QTest::newRow("TEMP.mdb, or not the tables' owner") << u"temp"_s << (server ? u"権限"_s : u"TEMP.mdb"_s);
        QTest::newRow("another QRB") << u"qrb"_s << u"使用中"_s;
        QTest::newRow("a program without QRB's lock") << u"raw"_s << u"ログ"_s;
        if (!server) {
            QTest::newRow("full disk") << u"disk"_s << u"データベースは元のまま"_s;
        }
    }
    void compactionThatCannotRunChangesNothing()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, reason);
        test::Workspace ws;
        test::FullDisk disk;
        DbTarget target = ws.target();
        bookMany(ws.db, 300);
        ws.db.DB_close();
        if (obstacle == u"disk"_s) {
            QRB_REQUIRE_MOUNTED(disk);
            target.sqlitePath = disk.path() + u"/yoyaku.db"_s;
            QVERIFY(QFile::copy(ws.dbPath(), target.sqlitePath));
            QVERIFY(QDir(disk.path()).mkdir(u"backup"_s));
            disk.fill(96 * 1024);
        }
        const QString folder = ws.onPostgres() ? ws.folder() : QFileInfo(target.sqlitePath).absolutePath();
        const QString temp = folder + u"/TEMP.mdb"_s;
        const QString role = u"qrb_clerk_%1"_s.arg(QCoreApplication::applicationPid());
        DbTarget blocked = target;
        if (obstacle == u"temp"_s && ws.onPostgres()) {
            ws.scratch->runOnServer(u"CREATE ROLE %1 LOGIN"_s.arg(role));
            blocked.postgres->user = role;
        } else if (obstacle == u"temp"_s) {
            QVERIFY(test::writeFileBytes(temp, "someone's file"));
        }
        QProcess other;
        if (obstacle == u"qrb"_s || obstacle == u"raw"_s) {
            other.start(QCoreApplication::applicationFilePath(),
                        {u"--hold"_s, obstacle,
                         target.postgres ? u"pg="_s + target.postgres->connInfo() : u"sqlite="_s + target.sqlitePath});
            QVERIFY(other.waitForReadyRead(10000));
            QCOMPARE(other.readLine().trimmed(), QByteArray("ready"));
        }
        const QMap<QString, QByteArray> before = folderState(folder);

        Database db;
        const QString message = messageOf([&] { db.DB_compact(blocked); });
        if (ws.onPostgres()) {
            // The server's VACUUM goes ahead beside other workstations; only the owner may run it.
            QVERIFY2(obstacle == u"temp"_s ? message.contains(reason) : message.isEmpty(), qPrintable(message));
            ws.scratch->runOnServer(u"DROP ROLE IF EXISTS %1"_s.arg(role));
        } else {
            QVERIFY2(message.contains(reason), qPrintable(message));
            // (another program's log may be checkpointed into the file meanwhile)
            QVERIFY(obstacle == u"raw"_s || folderState(folder) == before);
            QVERIFY(!QFile::exists(temp) || obstacle == u"temp"_s);
        }
        if (obstacle == u"disk"_s) {
            // Nor does a backup cut short lie in the folder under a backup's name.
            db.DB_open(target);
            QVERIFY_THROWS_EXCEPTION(DbError, backupDatabase(db, QDateTime(QDate(2009, 10, 9), QTime(10, 30))));
            QCOMPARE(QDir(folder + u"/backup"_s).entryList(QDir::Files), QStringList{});
            db.DB_close();
        }
        QFile::remove(temp);
        disk.release();
        const bool held = other.state() == QProcess::Running;
        if (held) {
            other.closeWriteChannel();
            QVERIFY(other.waitForFinished(10000));
            QCOMPARE(other.readAll().trimmed(), QByteArray("301"));
        }
        db.DB_compact(target);
        db.DB_open(target);
        QCOMPARE(YOYAKU_cnt(db, Day, u"08"_s), held ? 301 : 300);
        if (ws.onPostgres()) {
            QCOMPARE(db.scalar(u"SHOW synchronous_commit"_s).toString(), u"on"_s);
        } else {
            // FULL synchronous writes of the write-ahead log, in a whole file.
            QCOMPARE(db.scalar(u"PRAGMA integrity_check"_s).toString() +
                         db.scalar(u"PRAGMA journal_mode"_s).toString() + db.scalar(u"PRAGMA synchronous"_s).toString(),
                     u"okwal2"_s);
        }
    }

    // A connection string, or what setting.ini names: read, written out and read again, nothing
    // changes; a malformed one is refused on opening. Without a server named, the file in SVNM.
    void whatNamesTheDatabaseReadsBack_data()
    {
        QTest::addColumn<QString>("text");   // a connection string, or setting.ini's sections after SERVER
        QTest::addColumn<QString>("fields"); // the file, or host|port|dbname|user|password|sslmode|sslrootcert
        QTest::newRow("socket folder") << u"host=/tmp/qrb port=5439 dbname=qrb user=qrb"_s
                                       << u"/tmp/qrb|5439|qrb|qrb|||"_s;
        QTest::newRow("blanks around =") << u"  host = db1  user=uketsuke "_s << u"db1|0||uketsuke|||"_s;
        QTest::newRow("quoted with quote and backslash")
            << u"host=db1 password='it\\'s \\'a\\\\b\\''"_s << u"db1|0|||it's 'a\\b'||"_s;
        QTest::newRow("encrypted, certificate folder with a blank")
            << u"host=db1 sslmode=verify-full sslrootcert='/etc/qrb/root ca.crt' user=qrb"_s
            << u"db1|0||qrb||verify-full|/etc/qrb/root ca.crt"_s;
        for (const QString &bad : {u"host=db1 sslmode=on"_s, u"host=db1 options=-cx"_s, u"host"_s, u"host='db1"_s,
                                   u"host=db1 port=abc"_s, u"host=db1 port=70000"_s}) {
            QTest::addRow("refused: %s", qPrintable(bad)) << bad << QString();
        }
        const QString file = u"/srv/qrb/yoyaku.db"_s;
        QTest::newRow("ini: empty HOST") << u"[POSTGRESQL]\r\nHOST=\r\nDBNAME=qrb\r\n"_s << file;
        QTest::newRow("ini: server, default port")
            << u"[postgresql]\r\nhost = db1\r\nDBNAME=qrb\r\nUSER=uketsuke\r\nPASSWORD=\r\n"_s
            << u"db1|0|qrb|uketsuke|||"_s;
        QTest::newRow("ini: port not a number") << u"[POSTGRESQL]\r\nHOST=db1\r\nPORT=54a2\r\n"_s << QString();
        QTest::newRow("ini: unknown SSLMODE") << u"[POSTGRESQL]\r\nHOST=db1\r\nSSLMODE=yes\r\n"_s << QString();
        QTest::newRow("ini: encrypted, port")
            << u"[POSTGRESQL]\r\nHOST=/run/pg\r\nPORT=5433\r\nSSLMODE=verify-full\r\nSSLROOTCERT=/etc/qrb/ca.crt\r\n"_s
            << u"/run/pg|5433||||verify-full|/etc/qrb/ca.crt"_s;
    }
    void whatNamesTheDatabaseReadsBack()
    {
        QFETCH(QString, text);
        QFETCH(QString, fields);
        QTemporaryDir dir;
        const auto read = [&]() -> DbTarget {
            if (!text.startsWith(u'[')) {
                return DbTarget::server(PgServer::fromConnInfo(text));
            }
            const QString ini = u"[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=/srv/qrb\r\n"_s + text;
            return test::writeFileBytes(dir.filePath(u"setting.ini"_s), ini.toLatin1())
                       ? ini_read_all(dir.path()).databaseTarget()
                       : DbTarget{};
        };
        if (fields.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(DbError, Database().DB_open(read()));
            return;
        }
        const DbTarget target = read();
        QCOMPARE(::fields(target), fields);
        if (target.postgres) {
            QCOMPARE(::fields(DbTarget::server(PgServer::fromConnInfo(target.postgres->connInfo()))), fields);
            QCOMPARE(target.postgres->connInfo().contains(u"password"_s), !target.postgres->password.isEmpty());
        }
    }

    // Over the network: encrypted, and the server's certificate checked against the one it should
    // have; a server under another name (the certificate is for "localhost") is refused.
    void encryptedConnectionChecksTheServer()
    {
        const std::optional<PgServer> server = test::testServer();
        if (!server) {
            QSKIP("needs the test server (QRB_TEST_PG)");
        }
        Database admin(u"admin"_s);
        admin.openEmpty(DbTarget::server(*server));
        QCOMPARE(admin.scalar(u"SHOW ssl"_s).toString(), u"on"_s);
        PgServer tls = *server;
        tls.host = u"localhost"_s;
        tls.port = admin.scalar(u"SHOW port"_s).toInt();
        tls.sslmode = u"verify-full"_s;
        tls.sslrootcert = admin.scalar(u"SHOW ssl_cert_file"_s).toString();
        Database db(u"tls"_s);
        db.openEmpty(DbTarget::server(tls));
        QVERIFY(db.scalar(u"SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()"_s).toBool());
        db.DB_close();
        tls.host = u"127.0.0.1"_s;
        const QString message = test::messageOf([&] { db.openEmpty(DbTarget::server(tls)); });
        QVERIFY2(message.contains(u"証明書"_s) && message.contains(u"127.0.0.1"_s), qPrintable(message));
        // Without the authority's certificate nothing can be checked: the file is named, and no
        // impostor is suspected.
        tls.host = u"localhost"_s;
        tls.sslrootcert = QDir::tempPath() + u"/no-such-folder/root.crt"_s;
        const QString missing = test::messageOf([&] { db.openEmpty(DbTarget::server(tls)); });
        QVERIFY2(missing.contains(u"証明書のファイルがありません: "_s + tls.sslrootcert) &&
                     !missing.contains(u"本物"_s),
                 qPrintable(missing));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--hold") {
        return holdDatabase(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    // Start-up's opening of a database file, as whichever user runs this.
    if (argc == 3 && QByteArray(argv[1]) == "--open") {
        const QString message = messageOf([&] { Database(u"opener"_s).DB_open(QString::fromLocal8Bit(argv[2])); });
        QTextStream(stdout) << message << Qt::endl;
        return message.isEmpty() ? 0 : 1;
    }
    // Opening as start-up does, at the moment the test says "go".
    if (argc == 3 && QByteArray(argv[1]) == "--open-when-told") {
        const QString at = QString::fromLocal8Bit(argv[2]);
        QTextStream(stdout) << "ready" << Qt::endl;
        QTextStream(stdin).readLine();
        const QString message = messageOf([&] {
            Database(u"opener"_s).DB_open(at.startsWith(u"pg="_s) ? DbTarget::server(PgServer::fromConnInfo(at.mid(3)))
                                                                  : DbTarget::sqlite(at.mid(7)));
        });
        QTextStream(stderr) << message;
        return message.isEmpty() ? 0 : 1;
    }
    DatabaseTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_database.moc"
