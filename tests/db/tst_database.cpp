// The database behaves the same on SQLite and on PostgreSQL: made by qrb-initdb, opened only when it
// is a reservation database, transactions, reading while counting, and compaction that never loses a
// booking.
#include "db/Database.h"
#include "db/Reservation.h"
#include "shared/Dates.h"
#include "support/Workspace.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using namespace Qt::StringLiterals;
using namespace qrb;

namespace {

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

QString messageOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const DbError &error) {
        return error.message();
    }
    return {};
}

// Another program on the same database: this test binary started with --hold KIND sqlite=PATH or
// pg=CONNINFO opens it (KIND qrb: as QRB does, announcing itself with its lock; raw: as a program that
// does not), books reservation 77, says "ready", keeps the database open until its input closes, and
// then says how many reservations it still reads through that same connection.
int holdDatabase(const QString &kind, const QString &where)
{
    const DbTarget target = where.startsWith(u"pg="_s) ? DbTarget::server(PgServer::fromConnInfo(where.mid(3)))
                                                       : DbTarget::sqlite(where.mid(7));
    const QString book = u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG) VALUES (77, '後の予約', '2009/10/09', '08', 0)"_s;
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

// A database for qrb-initdb to make: a new file in the folder, or a new, empty database on the test
// server (the administrator's part), with the arguments that name it.
struct NewDatabase {
    explicit NewDatabase(const QTemporaryDir &dir)
        : target(DbTarget::sqlite(dir.filePath(u"new.db"_s)))
    {
        if (const std::optional<PgServer> server = test::testServer()) {
            scratch.emplace(*server);
            target = DbTarget::server(scratch->server());
        }
    }
    std::pair<int, QString> initdb(const QStringList &more) const
    {
        QProcess tool;
        tool.start(test::binDir() + u"/tools/qrb-initdb"_s,
                   (target.postgres ? QStringList{u"--pg"_s, target.postgres->connInfo()} : QStringList{target.sqlitePath})
                       + more);
        if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit) {
            return {-1, {}};
        }
        return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardError())};
    }
    std::optional<test::ScratchDatabase> scratch;
    DbTarget target;
};

// The tables of a PostgreSQL database, by name, read without requiring any.
QStringList serverTables(const PgServer &server)
{
    Database db(u"catalogue"_s);
    db.openEmpty(DbTarget::server(server));
    QStringList tables;
    db.forEachRow(u"SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY tablename"_s, {},
                  [&](const QSqlQuery &q) { tables << q.value(0).toString(); });
    return tables;
}

bool serverHasDatabase(PgServer server)
{
    const QString name = server.dbname;
    server.dbname = u"postgres"_s;
    Database db(u"catalogue"_s);
    db.openEmpty(DbTarget::server(server));
    return db.scalar(u"SELECT COUNT(*) FROM pg_database WHERE datname = ?"_s, {name}).toInt() > 0;
}

// What the reservations take on disk: the file, or on the server the pages of the table's rows (its
// indexes keep their size, and a vacuum adds the maps of free room).
qint64 storedSize(test::Workspace &ws)
{
    return ws.onPostgres() ? ws.db.scalar(u"SELECT pg_relation_size('yoyaku')"_s).toLongLong()
                           : QFileInfo(ws.dbPath()).size();
}

} // namespace

class DatabaseTest : public QObject
{
    Q_OBJECT

private slots:
    void initdbMakesOnceAndRefusesAgain()
    {
        QTemporaryDir dir;
        const NewDatabase made(dir);
        // A wrong number of places makes nothing.
        QVERIFY(made.initdb({u"--places"_s, u"-1"_s}).first > 0);
        if (made.target.postgres) {
            QCOMPARE(serverTables(*made.target.postgres), QStringList{});
        } else {
            QVERIFY(!QFile::exists(made.target.sqlitePath));
        }
        QCOMPARE(made.initdb({u"--places"_s, u"4"_s}).first, 0);
        Database db;
        db.DB_open(made.target);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM SETTING"_s).toInt(), 70);
        QCOMPARE(db.scalar(u"SELECT COUNT(DISTINCT NINZU) FROM SETTING"_s).toInt(), 1);
        QCOMPARE(NINZU_cnt(db, 7, u"17"_s), 4);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 0);
        // YNO is unique: a second row with the same number is refused by the engine itself.
        db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'a')"_s);
        QVERIFY_THROWS_EXCEPTION(DbError, db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'b')"_s));
        db.DB_close();

        // An existing reservation database is never made again: not the file, not the tables.
        const QByteArray before = fileHash(made.target.sqlitePath);
        const auto [code, message] = made.initdb({u"--places"_s, u"7"_s});
        QCOMPARE(code, 1);
        QVERIFY2(message.contains(u"上書きはしません"_s), qPrintable(message));
        QCOMPARE(fileHash(made.target.sqlitePath), before);
        db.DB_open(made.target);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE YNO = 40000"_s).toInt(), 1);
        QCOMPARE(db.scalar(u"SELECT SUM(NINZU) FROM SETTING"_s).toInt(), 70 * 4);
    }

    // A file: `name` in a new folder, made with `content` when `make`. On the server: a database that
    // does not exist, or one made holding what `content` creates (a table of some other program).
    void openingWhatIsNoDatabaseCreatesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("make");
        QTest::addColumn<QString>("reason");
        if (test::testServer()) {
            QTest::newRow("missing database") << QString() << QByteArray() << false << u"does not exist"_s;
            QTest::newRow("empty database") << QString() << QByteArray() << true << u"YOYAKU"_s;
            QTest::newRow("another program's tables")
                << QString() << QByteArray("CREATE TABLE NOTES (LINE TEXT)") << true << u"YOYAKU"_s;
            return;
        }
        QTest::newRow("missing file") << u"yoyaku.db"_s << QByteArray() << false << u"見つかりません"_s;
        QTest::newRow("missing folder") << u"gone/yoyaku.db"_s << QByteArray() << false << u"見つかりません"_s;
        QTest::newRow("text file") << u"notes.db"_s << QByteArray("this is no database\n") << true
                                   << u"開けません"_s;
        // SQLite reads an empty file as an empty database.
        QTest::newRow("empty file") << u"empty.db"_s << QByteArray() << true << u"YOYAKU"_s;
    }
    void openingWhatIsNoDatabaseCreatesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, make);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        std::optional<test::ScratchDatabase> scratch;
        DbTarget target = DbTarget::sqlite(dir.path() + u'/' + name);
        QString where = QDir::toNativeSeparators(target.sqlitePath);
        if (const std::optional<PgServer> server = test::testServer()) {
            scratch.emplace(*server);
            target = DbTarget::server(scratch->server());
            if (make && !content.isEmpty()) {
                Database other(u"other"_s);
                other.openEmpty(target);
                other.write(QString::fromUtf8(content));
            } else if (!make) {
                target.postgres->dbname += u"_gone"_s;
            }
            where = target.postgres->dbname;
        } else if (make) {
            QFile file(target.sqlitePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        const QStringList tablesBefore = scratch && make ? serverTables(*target.postgres) : QStringList{};

        Database db;
        const QString message = messageOf([&] { db.DB_open(target); });
        QVERIFY2(message.contains(where) && message.contains(reason), qPrintable(message));
        QVERIFY(!db.isOpen());
        if (scratch) {
            QCOMPARE(serverHasDatabase(*target.postgres), make);
            if (make) {
                QCOMPARE(serverTables(*target.postgres), tablesBefore);
            }
            return;
        }
        QCOMPARE(fileHash(target.sqlitePath), make ? QCryptographicHash::hash(content, QCryptographicHash::Sha256)
                                                   : QByteArray());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), make ? 1 : 0);
    }

    void transactionKeepsOnlyWhatWasCommitted()
    {
        test::Workspace ws;
        {
            Database::WriteTransaction t(ws.db);
            ws.addReservation(u"2009/10/09"_s, u"10"_s, u"取消"_s);
        }
        {
            Database::WriteTransaction t(ws.db);
            ws.addReservation(u"2009/10/09"_s, u"10"_s, u"山田"_s);
            t.commit();
        }
        // A failing statement inside a transaction: the error reaches the caller, the transaction is
        // undone, and the connection serves the next one (PostgreSQL refuses everything in a failed
        // transaction until it is rolled back).
        QVERIFY(!messageOf([&] {
                     Database::WriteTransaction t(ws.db);
                     ws.addReservation(u"2009/10/09"_s, u"11"_s, u"途中"_s);
                     ws.db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (?, ?)"_s, {1, u"重複"_s});
                     t.commit();
                 }).isEmpty());
        QCOMPARE(ws.addReservation(u"2009/10/09"_s, u"11"_s, u"鈴木"_s), 2);
        QStringList names;
        ws.db.forEachRow(u"SELECT KNM FROM YOYAKU ORDER BY YNO"_s, {},
                         [&](const QSqlQuery &q) { names << q.value(0).toString(); });
        QCOMPARE(names, (QStringList{u"山田"_s, u"鈴木"_s}));
        // A statement the engine refuses says why, in the engine's words.
        const QString message = messageOf([&] { ws.db.scalar(u"SELECT NOSUCHFIELD FROM YOYAKU WHERE YNO = ?"_s, {1}); });
        QVERIFY2(message.contains(u"nosuchfield"_s, Qt::CaseInsensitive), qPrintable(message));
    }

    void countingWhileWalkingSeesEveryRow()
    {
        test::Workspace ws(2);
        for (int i = 0; i < 6; ++i) {
            ws.addReservation(u"2009/10/09"_s, slotKey(i % 3), u"患者%1"_s.arg(i));
        }
        QList<int> counts;
        ws.db.forEachRow(u"SELECT YTIME FROM YOYAKU ORDER BY YNO"_s, {}, [&](const QSqlQuery &q) {
            counts << YOYAKU_cnt(ws.db, u"2009/10/09"_s, q.value(0).toString())
                   << NINZU_cnt(ws.db, 5, q.value(0).toString());
        });
        QCOMPARE(counts, QList<int>(12, 2));
    }

    void compactionKeepsEveryReservation()
    {
        test::Workspace ws;
        if (ws.onPostgres()) {
            // Measured before and after the compaction alone, not after a vacuum of the server's own.
            ws.db.write(u"ALTER TABLE YOYAKU SET (autovacuum_enabled = false)"_s);
        }
        for (int i = 0; i < 300; ++i) {
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"患者%1"_s.arg(i));
        }
        ws.db.write(u"DELETE FROM YOYAKU WHERE YNO > 10"_s);
        const qint64 before = storedSize(ws);
        QVERIFY(messageOf([&] { ws.db.DB_compact(ws.target()); }).contains(u"閉じて"_s));
        ws.db.DB_close();
        ws.db.DB_compact(ws.target());
        QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));
        ws.db.DB_open(ws.target());
        // The room of the deleted reservations is given back: the file, or the table on the server.
        QVERIFY(storedSize(ws) < before);
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 10);
        QCOMPARE(ws.db.scalar(u"SELECT MAX(YNO) FROM YOYAKU"_s).toInt(), 10);
        QCOMPARE(NINZU_cnt(ws.db, 1, u"08"_s), 0);
        if (ws.onPostgres()) {
            QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM pg_stat_user_tables "
                                  "WHERE relname IN ('yoyaku', 'setting') AND last_vacuum IS NOT NULL"_s)
                         .toInt(),
                     2);
        }
    }

    // A compaction that cannot run says so and changes nothing: on a file, because someone's TEMP.mdb
    // is where the copy would go; on the server, because the workstation's user does not own the tables.
    void compactionThatCannotRunChangesNothing()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"09"_s, u"山田"_s);
        ws.db.DB_close();
        const QString temp = ws.folder() + u"/TEMP.mdb"_s;
        QFile stray(temp);
        QVERIFY(stray.open(QIODevice::WriteOnly));
        stray.write("someone's file");
        stray.close();
        DbTarget target = ws.target();
        const QString role = u"qrb_clerk_%1"_s.arg(QCoreApplication::applicationPid());
        if (ws.onPostgres()) {
            ws.scratch->runOnServer(u"CREATE ROLE %1 LOGIN"_s.arg(role));
            target.postgres->user = role;
        }
        const QByteArray before = fileHash(ws.dbPath());
        const QString message = messageOf([&] { ws.db.DB_compact(target); });
        if (ws.onPostgres()) {
            ws.scratch->runOnServer(u"DROP ROLE %1"_s.arg(role));
            // The server's owner compacts without any file of this folder.
            ws.db.DB_compact(ws.target());
        }
        QVERIFY2(message.contains(u"のまま"_s) && message.contains(ws.onPostgres() ? u"権限"_s : u"TEMP.mdb"_s),
                 qPrintable(message));
        QCOMPARE(fileHash(ws.dbPath()), before);
        QCOMPARE(fileHash(temp), QCryptographicHash::hash("someone's file", QCryptographicHash::Sha256));
        ws.db.DB_open(ws.target());
        QCOMPARE(ws.db.scalar(u"SELECT KNM FROM YOYAKU"_s).toString(), u"山田"_s);
    }

    // Another QRB has the database open (a second process), or another program that does not announce
    // itself, with its booking still in the write-ahead log beside a SQLite file. A file copy now would
    // lose that booking or replay it into the wrong file: refused until the other has closed. The
    // server's VACUUM needs no one to stop and never loses a committed row.
    void compactionBesideAnotherProgram_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("another QRB") << u"qrb"_s << u"使用中"_s;
        QTest::newRow("a program without QRB's lock") << u"raw"_s << QString();
    }
    void compactionBesideAnotherProgram()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"先の予約"_s);
        const DbTarget target = ws.target();
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(),
                    {u"--hold"_s, kind,
                     target.postgres ? u"pg="_s + target.postgres->connInfo() : u"sqlite="_s + target.sqlitePath});
        QVERIFY(other.waitForReadyRead(10000));
        QCOMPARE(other.readLine().trimmed(), QByteArray("ready"));

        ws.db.DB_close();
        if (ws.onPostgres()) {
            ws.db.DB_compact(target);
        } else {
            QVERIFY(QFile::exists(ws.dbPath() + u"-wal"_s));
            const QByteArray before = fileHash(ws.dbPath());
            const QString message = messageOf([&] { ws.db.DB_compact(target); });
            QVERIFY2(!message.isEmpty() && message.contains(reason), qPrintable(message));
            if (kind == u"qrb"_s) {
                QCOMPARE(fileHash(ws.dbPath()), before); // (the other's log may be checkpointed into it)
            }
            QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));
        }

        // The other still reads both reservations through the connection it had.
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(other.readAll().trimmed(), QByteArray("2"));
        // With the other gone, compaction goes ahead, and bookings are still flushed before they count.
        ws.db.DB_compact(target);
        ws.db.DB_open(target);
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 2);
        QCOMPARE(ws.db.scalar(u"SELECT KNM FROM YOYAKU WHERE YNO = 77"_s).toString(), u"後の予約"_s);
        if (ws.onPostgres()) {
            QCOMPARE(ws.db.scalar(u"SHOW synchronous_commit"_s).toString(), u"on"_s);
        } else {
            QCOMPARE(ws.db.scalar(u"PRAGMA integrity_check"_s).toString(), u"ok"_s);
            QCOMPARE(ws.db.scalar(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
            QCOMPARE(ws.db.scalar(u"PRAGMA synchronous"_s).toInt(), 2); // FULL
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--hold") {
        return holdDatabase(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    DatabaseTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_database.moc"
