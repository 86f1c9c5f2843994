#include "db/Database.h"
#include "db/Reservation.h"
#include "db/Schema.h"
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
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Another QRB on the same database: this test binary started with --hold PATH (a file) or
// --hold-server CONNINFO opens it, says "ready", keeps it open until its input closes, and then says
// how many reservations it still reads through that same connection.
int holdDatabase(const DbTarget &target)
{
    Database db(u"holder"_s);
    db.DB_open(target);
    QTextStream(stdout) << "ready" << Qt::endl;
    QTextStream in(stdin);
    in.readAll();
    QTextStream(stdout) << db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt() << Qt::endl;
    return 0;
}

QStringList holdArguments(const DbTarget &target)
{
    if (target.postgres) {
        return {u"--hold-server"_s, target.postgres->connInfo()};
    }
    return {u"--hold"_s, target.sqlitePath};
}

// A database for qrb-initdb to make: a new file in the folder, or a new, empty database on the test
// server (the administrator's part), with the arguments that name it.
struct NewDatabase {
    explicit NewDatabase(const QTemporaryDir &dir)
    {
        if (const std::optional<PgServer> server = test::testServer()) {
            scratch.emplace(*server);
            target = DbTarget::server(scratch->server());
        } else {
            target = DbTarget::sqlite(dir.filePath(u"new.db"_s));
        }
    }
    QStringList arguments() const
    {
        if (target.postgres) {
            return {u"--pg"_s, target.postgres->connInfo()};
        }
        return {target.sqlitePath};
    }
    std::optional<test::ScratchDatabase> scratch;
    DbTarget target;
};

int runInitdb(const QStringList &arguments)
{
    QProcess tool;
    tool.start(test::binDir() + u"/tools/qrb-initdb"_s, arguments);
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return tool.exitCode();
}

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

// What the reservations take on disk: the file, or on the server the pages of the table's rows (its
// indexes keep their size, and a vacuum adds the maps of free room).
qint64 storedSize(test::Workspace &ws)
{
    return ws.onPostgres() ? ws.db.scalar(u"SELECT pg_relation_size('yoyaku')"_s).toLongLong()
                           : QFileInfo(ws.dbPath()).size();
}

bool serverHasDatabase(const PgServer &server, const QString &name)
{
    PgServer admin = server;
    admin.dbname = u"postgres"_s;
    Database db(u"catalogue"_s);
    db.openEmpty(DbTarget::server(admin));
    return db.scalar(u"SELECT COUNT(*) FROM pg_database WHERE datname = ?"_s, {name}).toInt() > 0;
}

} // namespace

class DatabaseTest : public QObject
{
    Q_OBJECT

private slots:
    void initdbMakesBothTablesAndAllSlots()
    {
        QTemporaryDir dir;
        const NewDatabase made(dir);
        QCOMPARE(runInitdb(made.arguments() + QStringList{u"--places"_s, u"4"_s}), 0);

        Database db;
        db.DB_open(made.target);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM SETTING"_s).toInt(), 70);
        QCOMPARE(db.scalar(u"SELECT COUNT(DISTINCT NINZU) FROM SETTING"_s).toInt(), 1);
        QCOMPARE(NINZU_cnt(db, 7, u"17"_s), 4);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 0);
        // YNO is unique: a second row with the same number is refused by the engine itself.
        db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'a')"_s);
        QVERIFY_THROWS_EXCEPTION(DbError, db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'b')"_s));
        QCOMPARE(db.scalar(u"SELECT MAX(YNO) FROM YOYAKU"_s).toInt(), 40000);
        db.DB_close();

        // An existing reservation database is never made again: not the file, not the tables.
        const QByteArray before = made.target.postgres ? QByteArray() : fileHash(made.target.sqlitePath);
        QCOMPARE(runInitdb(made.arguments()), 1);
        if (!made.target.postgres) {
            QCOMPARE(fileHash(made.target.sqlitePath), before);
        }
        db.DB_open(made.target);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE YNO = 40000"_s).toInt(), 1);
        QCOMPARE(db.scalar(u"SELECT SUM(NINZU) FROM SETTING"_s).toInt(), 70 * 4);
    }

    void initdbRefusesBadPlaces()
    {
        QTemporaryDir dir;
        const NewDatabase made(dir);
        QVERIFY(runInitdb(made.arguments() + QStringList{u"--places"_s, u"-1"_s}) > 0);
        if (made.target.postgres) {
            QCOMPARE(serverTables(*made.target.postgres), QStringList{});
        } else {
            QVERIFY(!QFile::exists(made.target.sqlitePath));
        }
    }

    // A file: `name` in a new folder, made with `content` when `make`. On the server: a database that
    // does not exist, or one made holding what `content` creates (a table of some other program).
    void openingWhatIsNoDatabaseCreatesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("make");
        if (test::testServer()) {
            QTest::newRow("missing database") << QString() << QByteArray() << false;
            QTest::newRow("empty database") << QString() << QByteArray() << true;
            QTest::newRow("another program's tables") << QString() << QByteArray("CREATE TABLE NOTES (LINE TEXT)") << true;
            return;
        }
        QTest::newRow("missing file") << u"yoyaku.db"_s << QByteArray() << false;
        QTest::newRow("missing folder") << u"gone/yoyaku.db"_s << QByteArray() << false;
        QTest::newRow("text file") << u"notes.db"_s << QByteArray("this is no database\n") << true;
        QTest::newRow("empty file") << u"empty.db"_s << QByteArray() << true;
    }
    void openingWhatIsNoDatabaseCreatesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, make);
        if (const std::optional<PgServer> server = test::testServer()) {
            test::ScratchDatabase scratch(*server);
            PgServer target = scratch.server();
            if (make) {
                Database other(u"other"_s);
                other.openEmpty(DbTarget::server(target));
                if (!content.isEmpty()) {
                    other.write(QString::fromUtf8(content));
                }
            } else {
                target.dbname += u"_gone"_s;
            }
            const QStringList tablesBefore = make ? serverTables(target) : QStringList{};
            Database db;
            try {
                db.DB_open(DbTarget::server(target));
                QFAIL("opened what is no reservation database");
            } catch (const DbError &error) {
                QVERIFY2(error.message().contains(target.dbname), qPrintable(error.message()));
            }
            QVERIFY(!db.isOpen());
            QCOMPARE(serverHasDatabase(target, target.dbname), make);
            if (make) {
                QCOMPARE(serverTables(target), tablesBefore);
            }
            return;
        }
        QTemporaryDir dir;
        const QString path = dir.path() + u'/' + name;
        if (make) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        Database db;
        try {
            db.DB_open(path);
            QFAIL("opened what is no database");
        } catch (const DbError &error) {
            QVERIFY2(error.message().contains(QDir::toNativeSeparators(path)), qPrintable(error.message()));
        }
        QVERIFY(!db.isOpen());
        QCOMPARE(QFile::exists(path), make);
        if (make) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), make ? 1 : 0);
    }

    void valuesAreBoundAsTyped()
    {
        test::Workspace ws;
        const QStringList names = {u"O'Brien"_s, u"100%"_s, u"a_b"_s, u"山田＊"_s, u"'; DROP TABLE YOYAKU; --"_s};
        for (const QString &name : names) {
            ws.addReservation(u"2009/10/09"_s, u"08"_s, name);
        }
        QStringList stored;
        ws.db.forEachRow(u"SELECT KNM FROM YOYAKU ORDER BY YNO"_s, {},
                         [&](const QSqlQuery &q) { stored << q.value(0).toString(); });
        QCOMPARE(stored, names);
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 5);
    }

    void anUncommittedTransactionLeavesNothing()
    {
        test::Workspace ws;
        {
            Database::WriteTransaction transaction(ws.db);
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"a"_s);
            QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 1);
        }
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 0);
        {
            Database::WriteTransaction transaction(ws.db);
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"b"_s);
            transaction.commit();
        }
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 1);
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
        ws.db.DB_close();
        ws.db.DB_compact(ws.target());
        QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));
        ws.db.DB_open(ws.target());
        // The room of the deleted reservations is given back: the file, or the table on the server.
        QVERIFY(storedSize(ws) < before);
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 10);
        QCOMPARE(NINZU_cnt(ws.db, 1, u"08"_s), 0);
    }

    void compactionWithAStrayTempFile()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"a"_s);
        ws.db.DB_close();
        const QString temp = ws.folder() + u"/TEMP.mdb"_s;
        QFile stray(temp);
        QVERIFY(stray.open(QIODevice::WriteOnly));
        stray.write("someone's file");
        stray.close();

        if (ws.onPostgres()) {
            // The server compacts without any file of this folder.
            ws.db.DB_compact(ws.target());
        } else {
            // The copy would go through that name: refused, both files as they were.
            const QByteArray before = fileHash(ws.dbPath());
            QVERIFY_THROWS_EXCEPTION(DbError, ws.db.DB_compact(ws.target()));
            QCOMPARE(fileHash(ws.dbPath()), before);
        }
        QCOMPARE(fileHash(temp), QCryptographicHash::hash("someone's file", QCryptographicHash::Sha256));
        ws.db.DB_open(ws.target());
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 1);
    }

    void compactionWithAnotherInstanceOpen()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"a"_s);
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), holdArguments(ws.target()));
        QVERIFY(other.waitForReadyRead(10000));
        QCOMPARE(other.readLine().trimmed(), QByteArray("ready"));

        ws.db.DB_close();
        if (ws.onPostgres()) {
            // The server's VACUUM needs no one to stop.
            ws.db.DB_compact(ws.target());
        } else {
            // A file copy would lose what the other instance writes meanwhile: refused.
            const QByteArray before = fileHash(ws.dbPath());
            try {
                ws.db.DB_compact(ws.target());
                QFAIL("compacted under another instance");
            } catch (const DbError &error) {
                QVERIFY2(error.message().contains(u"使用中"_s), qPrintable(error.message()));
            }
            QCOMPARE(fileHash(ws.dbPath()), before);
            QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));
        }

        // The other instance still reads the reservation through the connection it had.
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(other.readAll().trimmed(), QByteArray("1"));
        // With the other instance gone, compaction goes ahead.
        ws.db.DB_compact(ws.target());
        ws.db.DB_open(ws.target());
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 1);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--hold") {
        return holdDatabase(DbTarget::sqlite(QString::fromLocal8Bit(argv[2])));
    }
    if (argc == 3 && QByteArray(argv[1]) == "--hold-server") {
        return holdDatabase(DbTarget::server(PgServer::fromConnInfo(QString::fromLocal8Bit(argv[2]))));
    }
    DatabaseTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_database.moc"
