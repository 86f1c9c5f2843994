#include "screens/maintenance/DBAdminScreen.h"

#include "support/Desk.h"
#include "support/Workspace.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

using namespace Qt::StringLiterals;
using namespace qrb::test;

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
const QString firstAfterLast = u"削除期間の始めの日付が終わりの日付より後です。見直してください。"_s;

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
        showActive(&widget);
    }
    void press(const QString &name) { click(&widget, name); }
    QWidget *box(int i) { return control(&widget, u"Text1(%1)"_s.arg(i)); }
    qrb::DBAdminScreen widget;
};

enum Hazard { None, StrayTempFile, HeldByAnotherProgram, DatabaseGone, TableGone };

} // namespace

class DBAdminScreenTest final : public QObject
{
    Q_OBJECT

private slots:
    void compaction_data();
    void compaction();
    void deletion_data();
    void deletion();
    void noBackupNoDeletion();
};

void DBAdminScreenTest::compaction_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("hazard");
    QTest::addColumn<QString>("told");     // how the last message begins; empty: only the question
    QTest::addColumn<QString>("contains"); // and what it names
    const QString reopen = u"データベースを開き直せませんでした。"_s;
    QTest::newRow("compacted") << true << int(None) << compactDone << compactDone;
    QTest::newRow("cancelled") << false << int(None) << QString() << QString();
    QTest::newRow("someone's TEMP.mdb is kept") << true << int(StrayTempFile) << compactFailed << u"TEMP.mdb"_s;
    QTest::newRow("another program holds the database")
        << true << int(HeldByAnotherProgram) << compactFailed << u"使用中"_s;
    QTest::newRow("database gone") << true << int(DatabaseGone) << compactFailed << reopen;
    // Compaction copies whatever the file holds; opening it again wants both tables.
    QTest::newRow("compacted, then a table missing")
        << true << int(TableGone) << u"最適化は終了しましたが、"_s << reopen;
}

void DBAdminScreenTest::compaction()
{
    QFETCH(bool, answer);
    QFETCH(int, hazard);
    QFETCH(QString, told);
    QFETCH(QString, contains);
    Workspace ws;
    if (hazard == TableGone && ws.onPostgres()) {
        QSKIP("the server vacuums both tables by name: a database without one is not compacted either");
    }
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
    const qrb::DbTarget target = ws.target();
    if (hazard == HeldByAnotherProgram) {
        holder.start(QCoreApplication::applicationFilePath(),
                     target.postgres ? QStringList{u"--hold-server"_s, target.postgres->connInfo()}
                                     : QStringList{u"--hold-database"_s, target.sqlitePath});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    } else if (hazard == TableGone) {
        ws.db.write(u"DROP TABLE SETTING"_s);
    } else if (hazard == DatabaseGone && target.postgres) {
        ws.scratch->runOnServer(u"DROP DATABASE %1 WITH (FORCE)"_s.arg(target.postgres->dbname));
    } else if (hazard == DatabaseGone) {
        QVERIFY(QFile::rename(ws.dbPath(), ws.dbPath() + u".moved"_s));
    }
    ws.dialogs.answers = {answer};
    Screen s(ws);
    s.press(u"Command1(1)"_s);
    typeInto(s.box(0), u"2009/10/09"_s);
    s.press(u"Command1(0)"_s);
    QCOMPARE(ws.dialogs.messages.first().text, compactQuestion);
    // The server compacts without any file of this folder and needs no workstation to stop.
    if (ws.onPostgres() && (hazard == StrayTempFile || hazard == HeldByAnotherProgram)) {
        told = contains = compactDone;
    }
    QCOMPARE(ws.dialogs.messages.size(), told.isEmpty() ? 1 : 2);
    const QString message = ws.dialogs.messages.last().text;
    QVERIFY2(message.startsWith(told) && message.contains(contains), qPrintable(message));
    QVERIFY(!control(&s.widget, u"Command2(0)"_s)->isVisible());
    QCOMPARE(temp.exists(), hazard == StrayTempFile);
    if (hazard == DatabaseGone || hazard == TableGone) {
        // The program goes on: a deletion now says that it could not run.
        QVERIFY(!ws.db.isOpen());
        ws.dialogs.clear();
        s.press(u"Command1(1)"_s);
        s.press(u"Command2(0)"_s);
        QCOMPARE(ws.dialogs.messages.size(), 2);
        QVERIFY(!ws.dialogs.texts().contains(deleteAllDone));
        return;
    }
    QCOMPARE(reservations(ws.db), 10);
    if (hazard == HeldByAnotherProgram) {
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        // The other program still reads the reservations through the connection it kept.
        QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("10"));
        // Once it has let go, compaction goes through.
        ws.dialogs.clear();
        s.press(u"Command1(0)"_s);
        QCOMPARE(ws.dialogs.texts(), (QStringList{compactQuestion, compactDone}));
    }
}

// All, or a period typed into the two boxes; a deletion is copied first, asks only when it is of all,
// and refuses a period that is no period, deleting nothing and copying nothing.
void DBAdminScreenTest::deletion_data()
{
    QTest::addColumn<QString>("first"); // "all" for すべての予約データを削除
    QTest::addColumn<QString>("last");  // for all: the answer, "OK" or "Cancel"
    QTest::addColumn<QString>("told");  // the last message
    QTest::addColumn<int>("focus");     // the box the cursor is put back into, -1 for none
    QTest::addColumn<QStringList>("left");
    const QString p = u"2009/10/09"_s;
    const QStringList all = {u"2009/09/30"_s, p, p, u"2009/10/10"_s, u"2009/11/01"_s};
    QTest::newRow("all") << u"all"_s << u"OK"_s << deleteAllDone << -1 << QStringList{};
    QTest::newRow("all, cancelled") << u"all"_s << u"Cancel"_s << deleteAllQuestion << -1 << all;
    QTest::newRow("one day, every hour") << p << p << periodDone << -1
                                         << QStringList{u"2009/09/30"_s, u"2009/10/10"_s, u"2009/11/01"_s};
    QTest::newRow("both month ends included")
        << u"2009/10/01"_s << u"2009/10/31"_s << periodDone << -1 << QStringList{u"2009/09/30"_s, u"2009/11/01"_s};
    QTest::newRow("first after last") << u"2009/10/10"_s << p << firstAfterLast << 0 << all;
    QTest::newRow("first empty") << QString() << p << QString() << 0 << all;
    QTest::newRow("first without zeros") << u"2009/1/9"_s << p << wrongDate << 0 << all;
    QTest::newRow("last empty") << p << QString() << QString() << 1 << all;
}

void DBAdminScreenTest::deletion()
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
    ws.dialogs.answers = {last == u"OK"_s};
    Screen s(ws);
    QVERIFY(!control(&s.widget, u"Command2(0)"_s)->isVisible());
    s.press(u"Command1(1)"_s);
    if (first == u"all"_s) {
        s.press(u"Command2(0)"_s);
        QCOMPARE(ws.dialogs.messages.first().text, deleteAllQuestion);
    } else {
        typeInto(s.box(0), first);
        typeInto(s.box(1), last);
        s.press(u"Command2(1)"_s);
        QVERIFY(std::none_of(ws.dialogs.messages.begin(), ws.dialogs.messages.end(),
                             [](const auto &m) { return m.question; }));
    }
    const bool done = told == periodDone || told == deleteAllDone;
    QCOMPARE(ws.dialogs.messages.isEmpty() ? QString() : ws.dialogs.messages.last().text,
             done ? doneText(ws, told) : told);
    if (focus >= 0) {
        QCOMPARE(QApplication::focusWidget(), s.box(focus));
    }
    QStringList remaining = stored(ws.db, u"YDATE"_s);
    remaining.sort();
    QCOMPARE(remaining, left);
    const bool copied = left.size() < 5 && !ws.onPostgres();
    QVERIFY(backupAsExpected(ws, copied));
    if (copied && first == u"all"_s) {
        qrb::Database copy(u"copy"_s);
        copy.DB_open(ws.folder() + backupName);
        QCOMPARE(reservations(copy), 5);
    }
    QVERIFY(control(&s.widget, u"Command2(1)"_s)->isVisible());
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
    typeInto(s.box(0), u"2009/10/01"_s);
    typeInto(s.box(1), u"2009/10/31"_s);
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
        return holdDatabase(argc, argv,
                            qrb::DbTarget::server(qrb::PgServer::fromConnInfo(QString::fromLocal8Bit(argv[2]))));
    }
    QApplication app(argc, argv);
    DBAdminScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dbadminscreen.moc"
