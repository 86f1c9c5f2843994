#include "screens/maintenance/DBAdminScreen.h"

#include "support/Workspace.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
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
const QString compactFailed = u"データベースの最適化ができませんでした。\r\n"_s;
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

int reservations(qrb::Database &db)
{
    return db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt();
}

QStringList remainingDates(qrb::Database &db)
{
    QStringList dates;
    db.forEachRow(u"SELECT YDATE FROM YOYAKU ORDER BY YDATE, YNO"_s, {},
                  [&](const QSqlQuery &q) { dates << q.value(0).toString(); });
    return dates;
}

// The copy a deletion writes first, named after the workspace clock's moment.
const QString backupName = u"/backup/yoyaku_20091009_103000.db"_s;

// A deletion's message, naming that copy on SQLite.
QString doneText(const Workspace &ws, const QString &done)
{
    return ws.onPostgres() ? done : done + u"\r\n\r\n削除前のデータのバックアップ:\r\n"_s + ws.folder() + backupName;
}

// True when that copy is there if `copied`, and otherwise not even the backup folder.
bool backupAsExpected(const Workspace &ws, bool copied)
{
    return QFileInfo::exists(ws.folder() + (copied ? backupName : u"/backup"_s)) == copied;
}

struct Screen {
    explicit Screen(Workspace &ws)
        : widget(*ws.state)
    {
        widget.show();
        QVERIFY(QTest::qWaitForWindowActive(&widget));
    }
    void press(const QString &name)
    {
        QTest::mouseClick(widget.findChild<QPushButton *>(name), Qt::LeftButton);
    }
    QLineEdit *box(int i) { return widget.findChild<QLineEdit *>(u"Text1(%1)"_s.arg(i)); }
    // True when every deletion control is shown (hidden), none left behind.
    bool deletionShown(bool shown)
    {
        const QList<QWidget *> controls = {widget.findChild<QPushButton *>(u"Command2(0)"_s),
                                           widget.findChild<QPushButton *>(u"Command2(1)"_s),
                                           widget.findChild<QLabel *>(u"Label1(0)"_s),
                                           widget.findChild<QLabel *>(u"Label1(1)"_s),
                                           widget.findChild<QLabel *>(u"Label1(2)"_s), box(0), box(1)};
        return std::all_of(controls.begin(), controls.end(), [shown](QWidget *w) { return w->isVisible() == shown; });
    }
    qrb::DBAdminScreen widget;
};

enum Hazard { None, StrayTempFile, HeldByAnotherProgram };

} // namespace

class DBAdminScreenTest final : public QObject
{
    Q_OBJECT

private slots:
    void compaction_data();
    void compaction();
    void compactionWithTheDatabaseGoneSaysSoAndGoesOn();
    void deleteAll_data();
    void deleteAll();
    void period_data();
    void period();
    void noBackupNoDeletion();
};

void DBAdminScreenTest::compaction_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("hazard");
    QTest::addColumn<QString>("failure"); // what the message names when the file cannot be compacted
    QTest::newRow("compacted") << true << int(None) << QString();
    QTest::newRow("cancelled") << false << int(None) << QString();
    QTest::newRow("someone's TEMP.mdb is kept") << true << int(StrayTempFile) << u"TEMP.mdb"_s;
    QTest::newRow("another program holds the database") << true << int(HeldByAnotherProgram) << u"使用中"_s;
}

void DBAdminScreenTest::compaction()
{
    QFETCH(bool, answer);
    QFETCH(int, hazard);
    QFETCH(QString, failure);

    Workspace ws;
    for (int i = 0; i < 50; ++i) {
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
    }
    ws.db.write(u"DELETE FROM YOYAKU WHERE YNO > 10"_s);
    QFile temp(ws.folder() + u"/TEMP.mdb"_s);
    if (hazard == StrayTempFile) {
        QVERIFY(temp.open(QIODevice::WriteOnly));
        temp.write("someone's file");
        temp.close();
    }
    QProcess holder;
    if (hazard == HeldByAnotherProgram) {
        const qrb::DbTarget target = ws.target();
        holder.start(QCoreApplication::applicationFilePath(),
                     target.postgres ? QStringList{u"--hold-server"_s, target.postgres->connInfo()}
                                     : QStringList{u"--hold-database"_s, target.sqlitePath});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    }
    ws.dialogs.answers = {answer};
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.box(0)->setText(u"2009/10/09"_s);

    s.press(u"Command1(0)"_s);
    QVERIFY(ws.dialogs.messages.first().question);
    if (!answer) {
        QCOMPARE(ws.dialogs.texts(), QStringList{compactQuestion});
    } else if (failure.isEmpty() || ws.onPostgres()) {
        // The server compacts without any file of this folder and needs no workstation to stop.
        QCOMPARE(ws.dialogs.texts(), (QStringList{compactQuestion, compactDone}));
        QVERIFY(s.deletionShown(false));
        QCOMPARE(s.box(0)->text(), QString());
    } else {
        QCOMPARE(ws.dialogs.messages.size(), 2);
        const QString told = ws.dialogs.messages.last().text;
        QVERIFY2(told.startsWith(compactFailed) && told.contains(failure), qPrintable(told));
    }
    QVERIFY(ws.db.isOpen());
    QCOMPARE(reservations(ws.db), 10);
    if (hazard == StrayTempFile) {
        QVERIFY(temp.open(QIODevice::ReadOnly));
        QCOMPARE(temp.readAll(), QByteArray("someone's file"));
    } else {
        QVERIFY(!temp.exists());
    }

    if (hazard == HeldByAnotherProgram) {
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        QCOMPARE(holder.exitCode(), 0);
        // The other program still reads the reservations through the connection it kept.
        QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("10"));
        // Once it has let go, compaction goes through.
        ws.dialogs.clear();
        s.press(u"Command1(0)"_s);
        QCOMPARE(ws.dialogs.texts(), (QStringList{compactQuestion, compactDone}));
    }
}

void DBAdminScreenTest::compactionWithTheDatabaseGoneSaysSoAndGoesOn()
{
    Workspace ws;
    Screen s(ws);
    if (ws.onPostgres()) {
        ws.scratch->runOnServer(u"DROP DATABASE %1 WITH (FORCE)"_s.arg(ws.target().postgres->dbname));
    } else {
        QVERIFY(QFile::rename(ws.dbPath(), ws.dbPath() + u".moved"_s));
    }
    s.press(u"Command1(0)"_s);
    QCOMPARE(ws.dialogs.messages.size(), 2);
    const QString told = ws.dialogs.messages.last().text;
    QVERIFY2(told.startsWith(compactFailed), qPrintable(told));
    QVERIFY2(told.contains(u"データベースを開き直せませんでした。"_s), qPrintable(told));
    QVERIFY(!ws.db.isOpen());

    // The screen goes on: a deletion now says that it could not run.
    ws.dialogs.clear();
    s.press(u"Command1(1)"_s);
    s.press(u"Command2(0)"_s);
    QCOMPARE(ws.dialogs.messages.size(), 2);
    QVERIFY(!ws.dialogs.texts().contains(deleteAllDone));
}

void DBAdminScreenTest::deleteAll_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("answer");
    QTest::newRow("two reservations, copied first") << 2 << true;
    QTest::newRow("cancelled") << 1 << false;
    QTest::newRow("empty table still reports") << 0 << true;
}

void DBAdminScreenTest::deleteAll()
{
    QFETCH(int, count);
    QFETCH(bool, answer);

    Workspace ws;
    for (int i = 0; i < count; ++i) {
        ws.addReservation(i == 0 ? u"2009/10/09"_s : u"2010/02/01"_s, u"08"_s, u"山田"_s);
    }
    ws.dialogs.answers = {answer};
    Screen s(ws);
    QVERIFY(s.deletionShown(false));
    s.press(u"Command1(1)"_s);
    QVERIFY(s.deletionShown(true));
    s.press(u"Command2(0)"_s);
    QCOMPARE(ws.dialogs.texts(),
             (answer ? QStringList{deleteAllQuestion, doneText(ws, deleteAllDone)} : QStringList{deleteAllQuestion}));
    QVERIFY(ws.dialogs.messages.first().question);
    QCOMPARE(reservations(ws.db), answer ? 0 : count);
    QVERIFY(s.deletionShown(true));

    const bool copied = answer && !ws.onPostgres();
    QVERIFY(backupAsExpected(ws, copied));
    if (copied) {
        qrb::Database copy(u"copy"_s);
        copy.DB_open(ws.folder() + backupName);
        QCOMPARE(reservations(copy), count);
    }
}

void DBAdminScreenTest::period_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("told");
    QTest::addColumn<int>("focus"); // the box the cursor is put back into, -1 for none
    QTest::addColumn<QStringList>("left");
    const QString p = u"2009/10/09"_s;
    const QStringList all = {u"2009/09/30"_s, p, p, u"2009/10/10"_s, u"2009/11/01"_s};

    QTest::newRow("one day, every hour") << p << p << periodDone << -1
                                         << QStringList{u"2009/09/30"_s, u"2009/10/10"_s, u"2009/11/01"_s};
    QTest::newRow("both month ends included") << u"2009/10/01"_s << u"2009/10/31"_s << periodDone << -1
                                              << QStringList{u"2009/09/30"_s, u"2009/11/01"_s};
    QTest::newRow("first after last") << u"2009/10/10"_s << p << periodDone << -1 << all;
    QTest::newRow("first empty") << QString() << p << QString() << 0 << all;
    QTest::newRow("first without zeros") << u"2009/1/9"_s << p << wrongDate << 0 << all;
    QTest::newRow("first with hyphens") << u"2009-10-09"_s << p << wrongDate << 0 << all;
    QTest::newRow("first no such day") << u"2009/02/29"_s << p << wrongDate << 0 << all;
    QTest::newRow("first with a quote") << u"2009/10/0'"_s << p << wrongDate << 0 << all;
    QTest::newRow("last empty") << p << QString() << QString() << 1 << all;
    QTest::newRow("last eight characters") << p << u"2009/1/1"_s << wrongDate << 1 << all;
    QTest::newRow("both wrong, first told") << u"20091009"_s << u"x"_s << wrongDate << 0 << all;
}

void DBAdminScreenTest::period()
{
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, told);
    QFETCH(int, focus);
    QFETCH(QStringList, left);

    Workspace ws;
    int i = 0;
    for (const QString &day : {u"2009/10/09"_s, u"2009/09/30"_s, u"2009/10/10"_s, u"2009/10/09"_s, u"2009/11/01"_s}) {
        ws.addReservation(day, ++i % 2 ? u"08"_s : u"17"_s, u"山田"_s);
    }
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    s.box(0)->setText(first);
    s.box(1)->setText(last);
    s.press(u"Command2(1)"_s);
    // A deletion cannot be undone, yet it asks no question.
    QCOMPARE(ws.dialogs.texts(),
             told.isEmpty() ? QStringList{} : QStringList{told == periodDone ? doneText(ws, told) : told});
    QVERIFY(std::none_of(ws.dialogs.messages.begin(), ws.dialogs.messages.end(), [](const auto &m) { return m.question; }));
    if (focus >= 0) {
        QCOMPARE(QApplication::focusWidget(), s.box(focus));
    }
    QCOMPARE(remainingDates(ws.db), left);
    QVERIFY(backupAsExpected(ws, told == periodDone && !ws.onPostgres()));
    QVERIFY(s.deletionShown(true));
    QCOMPARE(s.box(0)->text() + s.box(1)->text(), first + last);
    // Choosing deletion again starts from empty boxes.
    s.press(u"Command1(1)"_s);
    QCOMPARE(s.box(0)->text(), QString());
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
    s.box(0)->setText(u"2009/10/01"_s);
    s.box(1)->setText(u"2009/10/31"_s);
    s.press(u"Command2(1)"_s);
    s.press(u"Command2(0)"_s);
    if (ws.onPostgres()) {
        // No copy is written, so the folder cannot stop a deletion on the server.
        QCOMPARE(ws.dialogs.texts(), (QStringList{periodDone, deleteAllQuestion, deleteAllDone}));
        QCOMPARE(reservations(ws.db), 0);
        return;
    }
    QCOMPARE(ws.dialogs.messages.size(), 3);
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
