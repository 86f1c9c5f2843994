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

// The questions are told apart by how they begin; the results are compared whole.
const QString compactQuestion = u"データベースの最適化を行います。"_s;
const QString compactDone = u"最適化が終了いたしました。"_s;
const QString compactFailed = u"データベースの最適化ができませんでした。\r\n"_s;
const QString deleteAllQuestion = u"予約データの削除を行います。"_s;
const QString deleteAllDone = u"すべての予約データを削除いたしました。"_s;
const QString periodDone = u"指定期間内の予約データを削除いたしました。"_s;

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
    return int(stored(db, u"YNO"_s).size());
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
    void compaction_data()
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
        // A copy that does not open as a database of both tables never replaces the file.
        QTest::newRow("a copy without a table replaces nothing")
            << true << int(TableGone) << compactFailed << u"データベースは元のままです。"_s;
    }

    void compaction()
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
        QVERIFY(ws.dialogs.messages.first().question && ws.dialogs.texts().first().startsWith(compactQuestion));
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
            QCOMPARE(ws.dialogs.texts().last(), compactDone);
        }
    }

    // All, or a period typed into the two boxes; a deletion is copied first, asks only when it is of all,
    // and refuses a period that is no period, deleting nothing and copying nothing.
    void deletion_data()
    {
        QTest::addColumn<QString>("first"); // "all" for すべての予約データを削除
        QTest::addColumn<QString>("last");  // for all: the answer, "OK" or "Cancel"
        QTest::addColumn<QString>("told");  // the result, or how a refusal begins; empty: none told
        QTest::addColumn<int>("focus");     // the box the cursor is put back into, -1 for none
        QTest::addColumn<QStringList>("left");
        const QString p = u"2009/10/09"_s;
        const QStringList all = {u"2009/09/30"_s, p, p, u"2009/10/10"_s, u"2009/11/01"_s};
        QTest::newRow("all") << u"all"_s << u"OK"_s << deleteAllDone << -1 << QStringList{};
        QTest::newRow("all, cancelled") << u"all"_s << u"Cancel"_s << QString() << -1 << all;
        QTest::newRow("one day, every hour")
            << p << p << periodDone << -1 << QStringList{u"2009/09/30"_s, u"2009/10/10"_s, u"2009/11/01"_s};
        QTest::newRow("both month ends included")
            << u"2009/10/01"_s << u"2009/10/31"_s << periodDone << -1 << QStringList{u"2009/09/30"_s, u"2009/11/01"_s};
        QTest::newRow("first after last") << u"2009/10/10"_s << p << u"削除期間の始めの日付が"_s << 0 << all;
        QTest::newRow("first empty") << QString() << p << QString() << 0 << all;
        QTest::newRow("first without zeros") << u"2009/1/9"_s << p << u"日付が正しくありません。"_s << 0 << all;
        QTest::newRow("last empty") << p << QString() << QString() << 1 << all;
    }

    void deletion()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, told);
        QFETCH(int, focus);
        QFETCH(QStringList, left);
        Workspace ws;
        int i = 0;
        for (const QString &day :
             {u"2009/10/09"_s, u"2009/09/30"_s, u"2009/10/10"_s, u"2009/10/09"_s, u"2009/11/01"_s}) {
            ws.addReservation(day, ++i % 2 ? u"08"_s : u"17"_s, u"山田"_s);
        }
        ws.dialogs.answers = {last == u"OK"_s};
        Screen s(ws);
        QVERIFY(!control(&s.widget, u"Command2(0)"_s)->isVisible());
        s.press(u"Command1(1)"_s);
        if (first == u"all"_s) {
            s.press(u"Command2(0)"_s);
            QVERIFY(ws.dialogs.messages.first().question && ws.dialogs.texts().first().startsWith(deleteAllQuestion));
        } else {
            typeInto(s.box(0), first);
            typeInto(s.box(1), last);
            s.press(u"Command2(1)"_s);
            QVERIFY(std::none_of(ws.dialogs.messages.begin(), ws.dialogs.messages.end(),
                                 [](const auto &m) { return m.question; }));
        }
        const bool done = told == periodDone || told == deleteAllDone;
        const QString said =
            ws.dialogs.messages.size() < (first == u"all"_s ? 2 : 1) ? QString() : ws.dialogs.texts().last();
        QVERIFY2(done ? said == doneText(ws, told) : said.startsWith(told) && (told.isEmpty() == said.isEmpty()),
                 qPrintable(said));
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

    void noBackupNoDeletion()
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
            QCOMPARE(ws.dialogs.texts().last(), deleteAllDone);
            QCOMPARE(reservations(ws.db), 0);
            return;
        }
        QCOMPARE(ws.dialogs.messages.size(), 3);
        QVERIFY(ws.dialogs.messages.at(0).text.contains(u"バックアップ"_s));
        QVERIFY(ws.dialogs.messages.at(2).text.contains(u"バックアップ"_s));
        QCOMPARE(reservations(ws.db), 2);
    }
};

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
