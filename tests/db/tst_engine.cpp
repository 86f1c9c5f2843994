// The database behaves the same on SQLite and on PostgreSQL: values bound as typed, case-insensitive
// ASCII matching with literal % and _, transactions, reading while counting, opening and compaction.
#include "support/Workspace.h"

#include "db/Reservation.h"
#include "db/Schema.h"
#include "shared/Dates.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using qrb::Database;
using qrb::DbError;
using qrb::DbTarget;
using qrb::test::Workspace;

namespace {

// What a search screen makes of typed text: the wildcards of LIKE become literal.
QString literalPattern(QString text)
{
    return text.replace(u'\\', u"\\\\"_s).replace(u'%', u"\\%"_s).replace(u'_', u"\\_"_s);
}

int countMatching(Database &db, const QString &pattern)
{
    return db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE UPPER(KNM) LIKE UPPER(?) ESCAPE '\\'"_s, {pattern}).toInt();
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

} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

private slots:
    void searchMatchesAsTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("contains"); // '%' around the typed text, or the text alone
        QTest::addColumn<int>("expected");
        QTest::newRow("quote, other case") << u"o'brien"_s << false << 1;
        QTest::newRow("percent is literal") << u"100%"_s << true << 1;
        QTest::newRow("underscore is literal") << u"a_b"_s << true << 1;
        QTest::newRow("backslash is literal") << u"back\\slash"_s << false << 1;
        QTest::newRow("ascii case folds") << u"SMITH"_s << true << 2;
        QTest::newRow("kana unchanged") << u"ﾔﾏﾀﾞ"_s << true << 1;
        QTest::newRow("full-width letters keep case") << u"ＡＢＣ"_s << true << 0;
        QTest::newRow("everything") << QString() << true << 9;
    }
    void searchMatchesAsTyped()
    {
        QFETCH(QString, typed);
        QFETCH(bool, contains);
        QFETCH(int, expected);
        Workspace ws;
        for (const QString &name : {u"O'Brien"_s, u"100%"_s, u"a_b"_s, u"aXb"_s, u"back\\slash"_s, u"Smith"_s,
                                    u"smithson"_s, u"ﾔﾏﾀﾞ ﾀﾛｳ"_s, u"ａｂｃ"_s}) {
            ws.addReservation(u"2009/10/09"_s, u"10"_s, name);
        }
        const QString pattern = contains ? u'%' + literalPattern(typed) + u'%' : literalPattern(typed);
        QCOMPARE(countMatching(ws.db, pattern), expected);
    }

    void transactionKeepsOnlyWhatWasCommitted()
    {
        Workspace ws;
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
    }

    void countingWhileWalkingSeesEveryRow()
    {
        Workspace ws(2);
        for (int i = 0; i < 6; ++i) {
            ws.addReservation(u"2009/10/09"_s, qrb::slotKey(i % 3), u"患者%1"_s.arg(i));
        }
        QList<int> counts;
        ws.db.forEachRow(u"SELECT YTIME FROM YOYAKU ORDER BY YNO"_s, {}, [&](const QSqlQuery &q) {
            counts << qrb::YOYAKU_cnt(ws.db, u"2009/10/09"_s, q.value(0).toString())
                   << qrb::NINZU_cnt(ws.db, 5, q.value(0).toString());
        });
        QCOMPARE(counts, (QList<int>{2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}));
    }

    void statementErrorCarriesTheEngineReason()
    {
        Workspace ws;
        const QString message = messageOf([&] { ws.db.scalar(u"SELECT NOSUCHFIELD FROM YOYAKU WHERE YNO = ?"_s, {1}); });
        QVERIFY2(message.contains(u"nosuchfield"_s, Qt::CaseInsensitive), qPrintable(message));
    }

    void openingRefusesWhatIsNoReservationDatabase()
    {
        Workspace ws;
        DbTarget missing = ws.target();
        DbTarget empty = ws.target();
        std::optional<qrb::test::ScratchDatabase> emptyServerDb;
        if (ws.onPostgres()) {
            missing.postgres->dbname = u"qrb_no_such_database"_s;
            emptyServerDb.emplace(*qrb::test::testServer());
            empty.postgres = emptyServerDb->server();
        } else {
            missing.sqlitePath = ws.folder() + u"/missing.db"_s;
            empty.sqlitePath = ws.folder() + u"/empty.db"_s;
            QFile(empty.sqlitePath).open(QIODevice::WriteOnly); // SQLite reads an empty file as an empty database
        }
        Database other(u"other"_s);
        const QString missingMessage = messageOf([&] { other.DB_open(missing); });
        QVERIFY2(missingMessage.contains(ws.onPostgres() ? u"does not exist"_s : u"見つかりません"_s),
                 qPrintable(missingMessage));
        QVERIFY(!QFile::exists(ws.folder() + u"/missing.db"_s));
        QVERIFY(messageOf([&] { other.DB_open(empty); }).contains(u"YOYAKU"_s));
        QVERIFY(!other.isOpen());
        // Refused, not filled: the empty database is still empty and can be made a new one.
        if (!ws.onPostgres()) {
            QCOMPARE(QFileInfo(empty.sqlitePath).size(), 0);
            QFile::remove(empty.sqlitePath);
        }
        qrb::createDatabase(empty, 1);
        other.DB_open(empty);
        QCOMPARE(qrb::NINZU_cnt(other, 1, u"08"_s), 1);
    }

    void compactionKeepsEveryReservation()
    {
        Workspace ws(1);
        for (int i = 0; i < 20; ++i) {
            ws.addReservation(u"2009/10/09"_s, u"09"_s, u"患者%1"_s.arg(i));
        }
        ws.db.write(u"DELETE FROM YOYAKU WHERE YNO <= ?"_s, {15});
        QVERIFY(messageOf([&] { ws.db.DB_compact(ws.target()); }).contains(u"閉じて"_s));
        ws.db.DB_close();
        ws.db.DB_compact(ws.target());
        ws.db.DB_open(ws.target());
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 5);
        QCOMPARE(ws.db.scalar(u"SELECT MIN(YNO) FROM YOYAKU"_s).toInt(), 16);
        if (ws.onPostgres()) {
            QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM pg_stat_user_tables "
                                  "WHERE relname IN ('yoyaku', 'setting') AND last_vacuum IS NOT NULL"_s)
                         .toInt(),
                     2);
        }
    }

    void compactionBesideAnotherWorkstation()
    {
        Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"09"_s, u"山田"_s);
        Database other(u"other"_s);
        other.DB_open(ws.target());
        ws.db.DB_close();
        const QString message = messageOf([&] { ws.db.DB_compact(ws.target()); });
        if (ws.onPostgres()) {
            // VACUUM needs nobody to stop: the other workstation goes on booking.
            QVERIFY2(message.isEmpty(), qPrintable(message));
            other.write(u"INSERT INTO YOYAKU (YNO, KNM) VALUES (?, ?)"_s, {2, u"鈴木"_s});
        } else {
            // A file copy would drop the other's work: refused until it has closed the file.
            QVERIFY(message.contains(u"使用中"_s));
            other.DB_close();
            ws.db.DB_compact(ws.target());
        }
        ws.db.DB_open(ws.target());
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), ws.onPostgres() ? 2 : 1);
    }

    void compactionThatCannotRunIsReportedAndChangesNothing()
    {
        Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"09"_s, u"山田"_s);
        ws.db.DB_close();
        DbTarget target = ws.target();
        const QString role = u"qrb_clerk_%1"_s.arg(QCoreApplication::applicationPid());
        if (ws.onPostgres()) {
            // A workstation user who does not own the tables cannot vacuum them.
            ws.scratch->runOnServer(u"CREATE ROLE %1 LOGIN"_s.arg(role));
            target.postgres->user = role;
        } else {
            QFile(ws.folder() + u"/TEMP.mdb"_s).open(QIODevice::WriteOnly);
        }
        const QString message = messageOf([&] { ws.db.DB_compact(target); });
        if (ws.onPostgres()) {
            ws.scratch->runOnServer(u"DROP ROLE %1"_s.arg(role));
        }
        QVERIFY2(message.contains(u"のまま"_s), qPrintable(message));
        QVERIFY(message.contains(ws.onPostgres() ? u"権限"_s : u"TEMP.mdb"_s));
        ws.db.DB_open(ws.target());
        QCOMPARE(ws.db.scalar(u"SELECT KNM FROM YOYAKU"_s).toString(), u"山田"_s);
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
