#include "db/Backup.h"
#include "db/Maintenance.h"
#include "db/Schema.h"

#include "support/FullDisk.h"
#include "support/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using qrb::Database;
using qrb::DbError;
using qrb::test::Workspace;

namespace {

const QDateTime Moment(QDate(2009, 10, 9), QTime(10, 30, 5));

QStringList names(const QString &path)
{
    Database db(u"names"_s);
    db.DB_open(path);
    QStringList found;
    db.forEachRow(u"SELECT KNM FROM YOYAKU ORDER BY YNO"_s, {}, [&](const QSqlQuery &q) { found << q.value(0).toString(); });
    if (db.scalar(u"PRAGMA integrity_check"_s).toString() != u"ok"_s) {
        found << u"(damaged)"_s;
    }
    return found;
}

// A workstation that dies with its last booking still in the write-ahead log beside the file.
void crashAfterBooking(const QString &path, const QString &name)
{
    const pid_t child = fork();
    if (child == 0) {
        QSqlDatabase raw = qrb::openSqliteFile(u"crash"_s, path, false);
        QSqlQuery(raw).exec(u"PRAGMA wal_autocheckpoint = 0"_s);
        QSqlQuery(raw).exec(u"INSERT INTO YOYAKU (YNO, KNM, CFLG) VALUES (99, '%1', 0)"_s.arg(name));
        _exit(0);
    }
    waitpid(child, nullptr, 0);
}

} // namespace

class MaintenanceTest final : public QObject
{
    Q_OBJECT

private slots:
    void deletionsCountWhatTheyRemoveAndKeepCapacities();
    void backupsInOneSecondDoNotMeet();
    void backupOnAFullDiskLeavesNone();
    void restoreNeverMeetsAForeignLog();
};

// Which reservations a period removes is followed through the maintenance screen.
void MaintenanceTest::deletionsCountWhatTheyRemoveAndKeepCapacities()
{
    Workspace ws;
    QCOMPARE(qrb::deleteAllReservations(ws.db), 0);
    for (const QString &day : {u"2009/10/09"_s, u"2009/10/09"_s, u"2009/10/10"_s, u"2010/01/04"_s}) {
        ws.addReservation(day, u"08"_s, u"山田"_s);
    }
    QCOMPARE(qrb::deleteReservationsBetween(ws.db, u"2009/10/09"_s, u"2009/10/10"_s), 3);
    QCOMPARE(qrb::deleteAllReservations(ws.db), 1);
    QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 0);
    QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM SETTING"_s).toInt(), 70);
}

void MaintenanceTest::backupsInOneSecondDoNotMeet()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    const std::optional<QString> first = qrb::backupDatabase(ws.db, Moment);
    const std::optional<QString> second = qrb::backupDatabase(ws.db, Moment);
    if (ws.onPostgres()) {
        // The server's own backups keep a shared database: no copy, nothing written into the folder.
        QVERIFY(!first && !second);
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/backup"_s));
        return;
    }
    QCOMPARE(*first, ws.folder() + u"/backup/yoyaku_20091009_103005.db"_s);
    QCOMPARE(*second, ws.folder() + u"/backup/yoyaku_20091009_103005_2.db"_s);
    QCOMPARE(names(*first), QStringList{u"山田"_s});
    QCOMPARE(names(*second), QStringList{u"山田"_s});
}

// A backup cut short never lies in the folder under a backup's name.
void MaintenanceTest::backupOnAFullDiskLeavesNone()
{
    if (qrb::test::testServer()) {
        QSKIP("files on this workstation's disk");
    }
    qrb::test::FullDisk disk;
    QRB_REQUIRE_MOUNTED(disk);
    const QString path = disk.path() + u"/yoyaku.db"_s;
    qrb::createDatabaseFile(path, 0);
    Database db;
    db.DB_open(path);
    {
        Database::WriteTransaction t(db);
        for (int i = 0; i < 100; ++i) {
            db.write(u"INSERT INTO YOYAKU (YNO, KNM, BIKO) VALUES (?, '患者', ?)"_s, {i + 1, QString(300, u'備')});
        }
        t.commit();
    }
    QDir().mkpath(disk.path() + u"/backup"_s);
    disk.fill(64 * 1024);
    QVERIFY_THROWS_EXCEPTION(DbError, qrb::backupDatabase(db, Moment));
    QCOMPARE(QDir(disk.path() + u"/backup"_s).entryList(QDir::Files), QStringList{});
}

// Restoring after a crash: the crashed file's log stays with that file, kept as one more backup, and
// is never replayed into the restored one. Refused while a QRB has the database open.
void MaintenanceTest::restoreNeverMeetsAForeignLog()
{
    Workspace ws;
    if (ws.onPostgres()) {
        QSKIP("the server's backups are restored with pg_restore");
    }
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    const QString backup = *qrb::backupDatabase(ws.db, Moment);
    ws.addReservation(u"2009/10/09"_s, u"09"_s, u"佐藤"_s);
    try {
        qrb::restoreDatabase(backup, ws.dbPath(), Moment, u"test"_s);
        QFAIL("restored under an open database");
    } catch (const DbError &error) {
        QVERIFY2(error.message().contains(u"使用中"_s), qPrintable(error.message()));
    }
    ws.db.DB_close();
    crashAfterBooking(ws.dbPath(), u"鈴木"_s);
    QVERIFY(QFileInfo(ws.dbPath() + u"-wal"_s).size() > 0);

    const QString kept = qrb::restoreDatabase(backup, ws.dbPath(), Moment.addSecs(60), u"test"_s);
    QCOMPARE(kept, ws.folder() + u"/backup/yoyaku_20091009_103105.db"_s);
    QVERIFY(!QFileInfo::exists(ws.folder() + u"/TEMP.mdb"_s));
    QCOMPARE(names(ws.dbPath()), QStringList{u"山田"_s});
    QCOMPARE(names(kept), (QStringList{u"山田"_s, u"佐藤"_s, u"鈴木"_s}));
    QCOMPARE(names(backup), QStringList{u"山田"_s});
    ws.db.DB_open(ws.target());
    QCOMPARE(ws.db.scalar(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
}

QTEST_GUILESS_MAIN(MaintenanceTest)
#include "tst_maintenance.moc"
