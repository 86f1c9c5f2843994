#include "screens/maintenance/DBAdminScreen.h"

#include "db/Reservation.h"
#include "support/Workspace.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;

namespace {

const QString compactQuestion = u"データベースの最適化を行います。\r\n\r\n"
                                u"他端末で本システムを使用中の時は、終了してください。\r\n"
                                u"ＯＫを押すと最適化を始めます。"_s;
const QString compactDone = u"最適化が終了いたしました。"_s;
const QString compactFailed = u"データベースの最適化ができませんでした。"_s;
const QString deleteAllQuestion = u"予約データの削除を行います。\r\n\r\n"
                                  u"すべての予約データを削除します。\r\n"
                                  u"一旦、削除すると復元はできません。\r\n"
                                  u"他端末で本システムを使用中の時は、終了してください。\r\n"
                                  u"後悔しない方は、ＯＫを押してください。"_s;
const QString deleteAllDone = u"すべての予約データを削除いたしました。"_s;
const QString periodDone = u"指定期間内の予約データを削除いたしました。"_s;
const QString wrongDate = u"日付が正しくありません。見直してください。"_s;

// Run as a second program: keeps the database open, as another workstation would, until its input
// closes, then says how many reservations it still reads.
int holdDatabase(int argc, char *argv[], const qrb::DbTarget &target)
{
    QCoreApplication app(argc, argv);
    qrb::Database db(u"holder"_s);
    try {
        db.DB_open(target);
        std::cout << "held" << std::endl;
        std::string line;
        std::getline(std::cin, line);
        std::cout << db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt() << std::endl;
    } catch (const qrb::DbError &error) {
        std::cout << error.message().toStdString() << std::endl;
        return 2;
    }
    return 0;
}

QStringList holdArguments(const qrb::DbTarget &target)
{
    if (target.postgres) {
        return {u"--hold-server"_s, target.postgres->connInfo()};
    }
    return {u"--hold-database"_s, target.sqlitePath};
}

// Where a deletion's backup copy is looked for. On the server there is none: its own backups hold.
bool backupExists(const Workspace &ws, const QString &name)
{
    return QFileInfo::exists(ws.folder() + u"/backup/"_s + name);
}

int reservations(qrb::Database &db)
{
    return db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt();
}

struct Screen {
    explicit Screen(Workspace &ws)
        : widget(*ws.state)
    {
        widget.show();
        QVERIFY(QTest::qWaitForWindowActive(&widget));
    }
    template<typename T>
    T *find(const QString &name)
    {
        return widget.findChild<T *>(name);
    }
    void press(const QString &name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    QLineEdit *box(int i) { return find<QLineEdit>(u"Text1(%1)"_s.arg(i)); }
    QList<QWidget *> deletionControls()
    {
        return {find<QPushButton>(u"Command2(0)"_s), find<QPushButton>(u"Command2(1)"_s),
                find<QLabel>(u"Label1(0)"_s),       find<QLabel>(u"Label1(1)"_s),
                find<QLabel>(u"Label1(2)"_s),       box(0),
                box(1)};
    }
    // True when every deletion control is shown (hidden), none left behind.
    bool deletionControlsShown(bool shown)
    {
        const auto controls = deletionControls();
        return std::all_of(controls.begin(), controls.end(), [shown](QWidget *w) { return w->isVisible() == shown; });
    }
    void period(const QString &first, const QString &last)
    {
        box(0)->setText(first);
        box(1)->setText(last);
        press(u"Command2(1)"_s);
    }
    qrb::DBAdminScreen widget;
};

} // namespace

class DBAdminScreenTest final : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheTwoJobsShowUntilDeletionIsChosen();
    void compactionAsksThenKeepsEveryReservation();
    void compactionCancelledDoesNothing();
    void compactionWithAStrayTempFile();
    void compactionWhileAnotherProgramHoldsTheDatabase();
    void compactionWithTheDatabaseGoneSaysSoAndGoesOn();
    void deleteAllAsksAndBacksUpFirst();
    void deleteAllCancelledKeepsEverything();
    void deleteAllOnAnEmptyTableStillReports();
    void periodRefusedUnlessBothAreDates_data();
    void periodRefusedUnlessBothAreDates();
    void periodOfOneDayDeletesThatDayOnly();
    void noBackupNoDeletion();
};

void DBAdminScreenTest::onlyTheTwoJobsShowUntilDeletionIsChosen()
{
    Workspace ws;
    Screen s(ws);
    QVERIFY(s.find<QPushButton>(u"Command1(0)"_s)->isVisible());
    QVERIFY(s.find<QPushButton>(u"Command1(1)"_s)->isVisible());
    QVERIFY(s.deletionControlsShown(false));

    s.press(u"Command1(1)"_s);
    QVERIFY(s.deletionControlsShown(true));
    s.box(0)->setText(u"2009/10/09"_s);
    s.press(u"Command1(1)"_s);
    QCOMPARE(s.box(0)->text(), QString());
    QVERIFY(ws.dialogs.messages.isEmpty());
}

void DBAdminScreenTest::compactionAsksThenKeepsEveryReservation()
{
    Workspace ws;
    for (int i = 0; i < 50; ++i) {
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    }
    ws.db.write(u"DELETE FROM YOYAKU WHERE YNO > 10"_s);
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.box(0)->setText(u"2009/10/09"_s);

    s.press(u"Command1(0)"_s);
    QCOMPARE(ws.dialogs.texts(), (QStringList{compactQuestion, compactDone}));
    QVERIFY(ws.dialogs.messages.first().question);
    QVERIFY(s.deletionControlsShown(false));
    QCOMPARE(s.box(0)->text(), QString());
    QVERIFY(ws.db.isOpen());
    QCOMPARE(reservations(ws.db), 10);
    QVERIFY(!QFile::exists(ws.folder() + u"/TEMP.mdb"_s));
}

void DBAdminScreenTest::compactionCancelledDoesNothing()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    ws.dialogs.answers = {false};
    Screen s(ws);
    s.press(u"Command1(0)"_s);
    QCOMPARE(ws.dialogs.texts(), QStringList{compactQuestion});
    QVERIFY(ws.db.isOpen());
    QCOMPARE(reservations(ws.db), 1);
}

void DBAdminScreenTest::compactionWithAStrayTempFile()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    QFile temp(ws.folder() + u"/TEMP.mdb"_s);
    QVERIFY(temp.open(QIODevice::WriteOnly));
    temp.write("someone's file");
    temp.close();

    Screen s(ws);
    s.press(u"Command1(0)"_s);
    if (ws.onPostgres()) {
        // The server compacts without any file of this folder.
        QCOMPARE(ws.dialogs.texts(), (QStringList{compactQuestion, compactDone}));
    } else {
        QCOMPARE(ws.dialogs.messages.size(), 2);
        const QString told = ws.dialogs.messages.last().text;
        QVERIFY2(told.startsWith(compactFailed + u"\r\n"_s), qPrintable(told));
        QVERIFY2(told.contains(u"TEMP.mdb"_s), qPrintable(told));
    }
    QVERIFY(ws.db.isOpen());
    QCOMPARE(reservations(ws.db), 1);
    QVERIFY(temp.open(QIODevice::ReadOnly));
    QCOMPARE(temp.readAll(), QByteArray("someone's file"));
}

void DBAdminScreenTest::compactionWhileAnotherProgramHoldsTheDatabase()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), holdArguments(ws.target()));
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

    Screen s(ws);
    s.press(u"Command1(0)"_s);
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0);
    // The other program still reads the reservation through the connection it kept.
    QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("1"));
    QVERIFY(ws.db.isOpen());
    QCOMPARE(reservations(ws.db), 1);

    if (ws.onPostgres()) {
        // The server's VACUUM needs no workstation to stop.
        QCOMPARE(ws.dialogs.texts(), (QStringList{compactQuestion, compactDone}));
        return;
    }
    QCOMPARE(ws.dialogs.messages.size(), 2);
    const QString told = ws.dialogs.messages.last().text;
    QVERIFY2(told.startsWith(compactFailed + u"\r\n"_s), qPrintable(told));
    QVERIFY2(told.contains(u"使用中"_s), qPrintable(told));

    // Once the other program has let go, compaction goes through.
    ws.dialogs.clear();
    s.press(u"Command1(0)"_s);
    QCOMPARE(ws.dialogs.texts(), (QStringList{compactQuestion, compactDone}));
}

void DBAdminScreenTest::compactionWithTheDatabaseGoneSaysSoAndGoesOn()
{
    Workspace ws;
    Screen s(ws);
    if (ws.onPostgres()) {
        const QString name = ws.target().postgres->dbname;
        ws.scratch->runOnServer(u"DROP DATABASE %1 WITH (FORCE)"_s.arg(name));
    } else {
        QVERIFY(QFile::rename(ws.dbPath(), ws.dbPath() + u".moved"_s));
    }
    s.press(u"Command1(0)"_s);
    const QString told = ws.dialogs.messages.last().text;
    QVERIFY2(told.startsWith(compactFailed), qPrintable(told));
    QVERIFY2(told.contains(u"データベースを開き直せませんでした。"_s), qPrintable(told));
    QVERIFY(!ws.dialogs.texts().contains(compactDone));
    QVERIFY(!ws.db.isOpen());

    // The screen goes on: a deletion now says that it could not run.
    ws.dialogs.clear();
    s.press(u"Command1(1)"_s);
    s.press(u"Command2(0)"_s);
    QCOMPARE(ws.dialogs.messages.size(), 2);
    QVERIFY(!ws.dialogs.texts().contains(deleteAllDone));
}

void DBAdminScreenTest::deleteAllAsksAndBacksUpFirst()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    ws.addReservation(u"2010/02/01"_s, u"17"_s, u"田中"_s);
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.press(u"Command2(0)"_s);
    QCOMPARE(ws.dialogs.texts(), (QStringList{deleteAllQuestion, deleteAllDone}));
    QVERIFY(ws.dialogs.messages.first().question);
    QCOMPARE(reservations(ws.db), 0);
    QVERIFY(s.deletionControlsShown(true));

    if (ws.onPostgres()) {
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/backup"_s));
        return;
    }
    qrb::Database copy(u"copy"_s);
    copy.DB_open(ws.folder() + u"/backup/yoyaku_20091009_103000.db"_s);
    QCOMPARE(reservations(copy), 2);
}

void DBAdminScreenTest::deleteAllCancelledKeepsEverything()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    ws.dialogs.answers = {false};
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.press(u"Command2(0)"_s);
    QCOMPARE(ws.dialogs.texts(), QStringList{deleteAllQuestion});
    QCOMPARE(reservations(ws.db), 1);
    QVERIFY(!QDir(ws.folder() + u"/backup"_s).exists());
}

void DBAdminScreenTest::deleteAllOnAnEmptyTableStillReports()
{
    Workspace ws;
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.press(u"Command2(0)"_s);
    QCOMPARE(ws.dialogs.texts(), (QStringList{deleteAllQuestion, deleteAllDone}));
}

void DBAdminScreenTest::periodRefusedUnlessBothAreDates_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<bool>("told");
    QTest::addColumn<int>("focus");
    QTest::newRow("first empty") << QString() << u"2009/10/09"_s << false << 0;
    QTest::newRow("first without zeros") << u"2009/1/9"_s << u"2009/10/09"_s << true << 0;
    QTest::newRow("first with hyphens") << u"2009-10-09"_s << u"2009/10/09"_s << true << 0;
    QTest::newRow("first no such day") << u"2009/02/29"_s << u"2009/10/09"_s << true << 0;
    QTest::newRow("first with a quote") << u"2009/10/0'"_s << u"2009/10/09"_s << true << 0;
    QTest::newRow("last empty") << u"2009/10/09"_s << QString() << false << 1;
    QTest::newRow("last eight characters") << u"2009/10/09"_s << u"2009/1/1"_s << true << 1;
    QTest::newRow("both wrong, first told") << u"20091009"_s << u"x"_s << true << 0;
}

void DBAdminScreenTest::periodRefusedUnlessBothAreDates()
{
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(bool, told);
    QFETCH(int, focus);

    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.period(first, last);
    QCOMPARE(ws.dialogs.texts(), told ? QStringList{wrongDate} : QStringList{});
    QCOMPARE(QApplication::focusWidget(), s.box(focus));
    QCOMPARE(reservations(ws.db), 1);
    QVERIFY(!QDir(ws.folder() + u"/backup"_s).exists());
}

void DBAdminScreenTest::periodOfOneDayDeletesThatDayOnly()
{
    Workspace ws;
    ws.addReservation(u"2009/10/08"_s, u"17"_s, u"前日"_s);
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"当日"_s);
    ws.addReservation(u"2009/10/09"_s, u"17"_s, u"当日"_s);
    ws.addReservation(u"2009/10/10"_s, u"08"_s, u"翌日"_s);
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.period(u"2009/10/09"_s, u"2009/10/09"_s);
    QCOMPARE(ws.dialogs.texts(), QStringList{periodDone});
    QVERIFY(!ws.dialogs.messages.first().question);
    QCOMPARE(reservations(ws.db), 2);
    QCOMPARE(qrb::YOYAKU_cnt(ws.db, u"2009/10/09"_s, u"08"_s), 0);
    QVERIFY(s.deletionControlsShown(true));
    QCOMPARE(s.box(0)->text(), u"2009/10/09"_s);
    QCOMPARE(s.box(1)->text(), u"2009/10/09"_s);
    QCOMPARE(backupExists(ws, u"yoyaku_20091009_103000.db"_s), !ws.onPostgres());
}

void DBAdminScreenTest::noBackupNoDeletion()
{
    Workspace ws;
    ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    ws.addReservation(u"2009/11/09"_s, u"08"_s, u"田中"_s);
    QFile blocker(ws.folder() + u"/backup"_s);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.period(u"2009/10/01"_s, u"2009/10/31"_s);
    s.press(u"Command2(0)"_s);
    if (ws.onPostgres()) {
        // No copy is written, so the folder cannot stop a deletion on the server.
        QCOMPARE(ws.dialogs.texts(), (QStringList{periodDone, deleteAllQuestion, deleteAllDone}));
        QCOMPARE(reservations(ws.db), 0);
        return;
    }
    QCOMPARE(ws.dialogs.messages.size(), 3);
    QVERIFY(!ws.dialogs.texts().contains(deleteAllDone));
    QVERIFY(!ws.dialogs.texts().contains(periodDone));
    QVERIFY(ws.dialogs.messages.at(0).text.contains(u"バックアップ"_s));
    QVERIFY(ws.dialogs.messages.at(2).text.contains(u"バックアップ"_s));
    QCOMPARE(reservations(ws.db), 2);
}

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--hold-database") == 0) {
        return holdDatabase(argc, argv, qrb::DbTarget::sqlite(QString::fromLocal8Bit(argv[2])));
    }
    if (argc == 3 && std::strcmp(argv[1], "--hold-server") == 0) {
        return holdDatabase(argc, argv, qrb::DbTarget::server(qrb::PgServer::fromConnInfo(QString::fromLocal8Bit(argv[2]))));
    }
    QApplication app(argc, argv);
    DBAdminScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dbadminscreen.moc"
