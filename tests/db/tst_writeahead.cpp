#include "db/Database.h"
#include "db/Reservation.h"
#include "support/Workspace.h"

#include <QFile>
#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

// Bookings are written ahead into a log beside a SQLite file; compaction replaces the file, and must
// never leave a log that belongs to the old file beside the new one.
class WriteAheadTest final : public QObject
{
    Q_OBJECT

    // A connection of another program that does not announce itself (no QRB lock): the worst case.
    static QSqlDatabase otherConnection(const test::Workspace &ws)
    {
        const DbTarget target = ws.target();
        return target.isPostgres() ? connectPgServer(u"other"_s, *target.postgres)
                                   : openSqliteFile(u"other"_s, target.sqlitePath, false);
    }

private slots:
    void newFilesLogAheadAndFlushEveryBooking()
    {
        test::Workspace ws;
        if (ws.onPostgres()) {
            QCOMPARE(ws.db.scalar(u"SHOW synchronous_commit"_s).toString(), u"on"_s);
            return;
        }
        QCOMPARE(ws.db.scalar(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
        QCOMPARE(ws.db.scalar(u"PRAGMA synchronous"_s).toInt(), 2); // FULL
    }

    void compactionNeverDropsAnotherConnectionsCommittedBooking()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"先の予約"_s);
        {
            QSqlDatabase other = otherConnection(ws);
            QVERIFY(other.isOpen());
            QSqlQuery insert(other);
            QVERIFY(insert.exec(u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG) "
                                "VALUES (77, '後の予約', '2009/10/09', '08', 0)"_s));
            ws.db.DB_close();
            if (ws.onPostgres()) {
                ws.db.DB_compact(ws.target()); // the server's own VACUUM never loses a committed row
            } else {
                // The other connection still keeps its booking in the log: replacing the file now
                // would either lose it or replay it into the wrong file.
                QVERIFY(QFile::exists(ws.dbPath() + u"-wal"_s));
                QVERIFY_THROWS_EXCEPTION(DbError, ws.db.DB_compact(ws.target()));
                QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));
            }
            other.close();
        }
        QSqlDatabase::removeDatabase(u"other"_s);
        ws.db.DB_compact(ws.target());
        ws.db.DB_open(ws.target());
        QCOMPARE(YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 2);
        QCOMPARE(ws.db.scalar(u"SELECT KNM FROM YOYAKU WHERE YNO = 77"_s).toString(), u"後の予約"_s);
        if (!ws.onPostgres()) {
            QCOMPARE(ws.db.scalar(u"PRAGMA integrity_check"_s).toString(), u"ok"_s);
            QCOMPARE(ws.db.scalar(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
        }
    }
};

QTEST_GUILESS_MAIN(WriteAheadTest)
#include "tst_writeahead.moc"
