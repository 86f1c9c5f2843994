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

// Another QRB on the same file: this test binary started with --hold PATH opens the database,
// says "ready" and keeps it open until its input closes.
int holdDatabase(const QString &path)
{
    Database db(u"holder"_s);
    db.DB_open(path);
    QTextStream(stdout) << "ready" << Qt::endl;
    QTextStream in(stdin);
    in.readAll();
    return 0;
}

} // namespace

class DatabaseTest : public QObject
{
    Q_OBJECT

private slots:
    void initdbMakesBothTablesAndAllSlots()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + u"/new.db"_s;
        QProcess tool;
        tool.start(test::binDir() + u"/tools/qrb-initdb"_s, {path, u"--places"_s, u"4"_s});
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), 0);

        Database db;
        db.DB_open(path);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM SETTING"_s).toInt(), 70);
        QCOMPARE(db.scalar(u"SELECT COUNT(DISTINCT NINZU) FROM SETTING"_s).toInt(), 1);
        QCOMPARE(NINZU_cnt(db, 7, u"17"_s), 4);
        QCOMPARE(db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 0);
        // YNO is unique: a second row with the same number is refused by the engine itself.
        db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'a')"_s);
        QVERIFY_THROWS_EXCEPTION(DbError, db.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (40000, 'b')"_s));
        QCOMPARE(db.scalar(u"SELECT MAX(YNO) FROM YOYAKU"_s).toInt(), 40000);
        db.DB_close();

        // An existing path is never overwritten.
        const QByteArray before = fileHash(path);
        QProcess again;
        again.start(test::binDir() + u"/tools/qrb-initdb"_s, {path});
        QVERIFY(again.waitForFinished());
        QVERIFY(again.exitCode() != 0);
        QCOMPARE(fileHash(path), before);
    }

    void initdbRefusesBadPlaces()
    {
        QTemporaryDir dir;
        QProcess tool;
        tool.start(test::binDir() + u"/tools/qrb-initdb"_s, {dir.path() + u"/x.db"_s, u"--places"_s, u"-1"_s});
        QVERIFY(tool.waitForFinished());
        QVERIFY(tool.exitCode() != 0);
        QVERIFY(!QFile::exists(dir.path() + u"/x.db"_s));
    }

    void openingWhatIsNoDatabaseCreatesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("makeFile");
        QTest::newRow("missing file") << u"yoyaku.db"_s << QByteArray() << false;
        QTest::newRow("missing folder") << u"gone/yoyaku.db"_s << QByteArray() << false;
        QTest::newRow("text file") << u"notes.db"_s << QByteArray("this is no database\n") << true;
        QTest::newRow("empty file") << u"empty.db"_s << QByteArray() << true;
    }
    void openingWhatIsNoDatabaseCreatesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, makeFile);
        QTemporaryDir dir;
        const QString path = dir.path() + u'/' + name;
        if (makeFile) {
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
        QCOMPARE(QFile::exists(path), makeFile);
        if (makeFile) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), makeFile ? 1 : 0);
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
        for (int i = 0; i < 300; ++i) {
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"患者%1"_s.arg(i));
        }
        ws.db.write(u"DELETE FROM YOYAKU WHERE YNO > 10"_s);
        const qint64 before = QFileInfo(ws.dbPath()).size();
        ws.db.DB_close();
        ws.db.DB_compact(ws.dbPath());
        QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));
        QVERIFY(QFileInfo(ws.dbPath()).size() < before);
        ws.db.DB_open(ws.dbPath());
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 10);
        QCOMPARE(NINZU_cnt(ws.db, 1, u"08"_s), 0);
    }

    void compactionWithTempPresentLeavesBothFilesAlone()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"a"_s);
        ws.db.DB_close();
        const QString temp = ws.folder() + u"/TEMP.mdb"_s;
        QFile stray(temp);
        QVERIFY(stray.open(QIODevice::WriteOnly));
        stray.write("someone's file");
        stray.close();
        const QByteArray before = fileHash(ws.dbPath());

        QVERIFY_THROWS_EXCEPTION(DbError, ws.db.DB_compact(ws.dbPath()));
        QCOMPARE(fileHash(ws.dbPath()), before);
        QCOMPARE(fileHash(temp), QCryptographicHash::hash("someone's file", QCryptographicHash::Sha256));
        ws.db.DB_open(ws.dbPath());
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 1);
    }

    void compactionRefusesWhileAnotherInstanceHasTheFile()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"a"_s);
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), {u"--hold"_s, ws.dbPath()});
        QVERIFY(other.waitForReadyRead(10000));
        QCOMPARE(other.readLine().trimmed(), QByteArray("ready"));

        ws.db.DB_close();
        const QByteArray before = fileHash(ws.dbPath());
        try {
            ws.db.DB_compact(ws.dbPath());
            QFAIL("compacted under another instance");
        } catch (const DbError &error) {
            QVERIFY2(error.message().contains(u"使用中"_s), qPrintable(error.message()));
        }
        QCOMPARE(fileHash(ws.dbPath()), before);
        QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));

        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.exitCode(), 0);
        // With the other instance gone, compaction goes ahead.
        ws.db.DB_compact(ws.dbPath());
        ws.db.DB_open(ws.dbPath());
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 1);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--hold") {
        return holdDatabase(QString::fromLocal8Bit(argv[2]));
    }
    DatabaseTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_database.moc"
