// qrb-report, run as a scheduled job would run it.
#include "support/Common.h"
#include "support/FullDisk.h"
#include "support/Workspace.h"

#include "screens/reports/ReportScreen.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

qrb::test::Run runTool(const QString &folder, const QStringList &args)
{
    return qrb::test::runProgram(qrb::test::binDir() + u"/tools/qrb-report"_s, args, folder);
}

// A setting.ini naming the workspace's database, or, when `present` is false, one beside it that does
// not exist: a file of another name, or another database on the same server.
void writeSettings(const qrb::test::Workspace &ws, bool present, const QString &txtPath = u"./tool/"_s)
{
    QByteArray text = "[DATABASE]\r\nSYS0=" + QByteArray(present ? "yoyaku.db" : "gone.db") +
                      "\r\n[SERVER]\r\nSVNM=.\r\n[TEXTFILE]\r\nTXTPATH=" + txtPath.toUtf8() + "\r\n";
    if (const auto &server = ws.target().postgres) {
        text += "[POSTGRESQL]\r\nHOST=" + server->host.toUtf8() +
                "\r\nPORT=" + (server->port > 0 ? QByteArray::number(server->port) : QByteArray()) +
                "\r\nDBNAME=" + server->dbname.toUtf8() + (present ? "" : "_gone") +
                "\r\nUSER=" + server->user.toUtf8() + "\r\n";
    }
    QVERIFY(qrb::test::writeFileBytes(ws.folder() + u"/setting.ini"_s, text));
}

} // namespace

class ReportToolTest : public QObject
{
    Q_OBJECT

private slots:
    void writesTheBytesOfTheButton_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("button"); // 0 daily, 1 list, 2 monthly
        QTest::addColumn<QString>("file");
        QTest::newRow("daily") << u"daily"_s << 0 << u"日報.txt"_s;
        QTest::newRow("unvisited") << u"unvisited"_s << 1 << u"未来院リスト.txt"_s;
        QTest::newRow("monthly") << u"monthly"_s << 2 << u"月報.txt"_s;
    }

    void writesTheBytesOfTheButton()
    {
        QFETCH(QString, kind);
        QFETCH(int, button);
        QFETCH(QString, file);
        qrb::test::Workspace ws(2);
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"O'Brien"_s);
        ws.addReservation(u"2009/10/09"_s, u"16"_s, u"山田太郎"_s, 1);
        ws.addReservation(u"2009/10/20"_s, u"10"_s, u"佐藤花子"_s);
        writeSettings(ws, true);

        qrb::ReportScreen screen(*ws.state);
        button < 2 ? screen.Command1_Click(button) : screen.Command2_Click(0);
        const qrb::test::Run run = runTool(ws.folder(), {kind, u"2009/10/09"_s});
        QCOMPARE(run.code, 0);
        QCOMPARE(QFileInfo(run.out).canonicalFilePath(),
                 QFileInfo(ws.folder() + u"/tool/"_s + file).canonicalFilePath());
        const QByteArray bytes = qrb::test::fileBytes(ws.folder() + u"/reports/"_s + file);
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(qrb::test::fileBytes(run.out), bytes);
    }

    void failuresSayWhyAndExitNonZero_data()
    {
        QTest::addColumn<QString>("settings"); // none, or the database present or gone
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no setting.ini") << u"none"_s << QStringList{u"daily"_s, u"2009/10/09"_s};
        QTest::newRow("missing database") << u"gone"_s << QStringList{u"daily"_s, u"2009/10/09"_s};
        QTest::newRow("no such day") << u"present"_s << QStringList{u"daily"_s, u"2009/02/30"_s};
        QTest::newRow("unknown report") << u"present"_s << QStringList{u"weekly"_s, u"2009/10/09"_s};
    }
    void failuresSayWhyAndExitNonZero()
    {
        QFETCH(QString, settings);
        QFETCH(QStringList, args);
        qrb::test::Workspace ws(2);
        if (settings != u"none"_s) {
            writeSettings(ws, settings == u"present"_s);
        }
        const qrb::test::Run run = runTool(ws.folder(), args);
        QVERIFY(run.code > 0 && run.out.isEmpty());
        QVERIFY2(settings == u"gone"_s ? run.err.contains(u"gone"_s) : !run.err.isEmpty(), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/tool"_s) && !QFileInfo::exists(ws.folder() + u"/gone.db"_s));
    }

    // A report that does not fit on the disk is reported as not written, and the earlier one stays.
    void fullDiskKeepsTheEarlierReport()
    {
        qrb::test::FullDisk disk;
        QRB_REQUIRE_MOUNTED(disk);
        qrb::test::Workspace ws(2);
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田太郎"_s);
        writeSettings(ws, true, disk.path() + u'/');
        QCOMPARE(runTool(ws.folder(), {u"daily"_s, u"2009/10/09"_s}).code, 0);
        const QString report = disk.path() + u"/日報.txt"_s;
        const QByteArray earlier = qrb::test::fileBytes(report);
        QVERIFY(!earlier.isEmpty());

        ws.addReservation(u"2009/10/09"_s, u"09"_s, u"佐藤花子"_s);
        disk.fill();
        const qrb::test::Run run = runTool(ws.folder(), {u"daily"_s, u"2009/10/09"_s});
        QVERIFY2(run.code > 0 && run.out.isEmpty(), qPrintable(run.out));
        QVERIFY2(run.err.contains(u"日報.txt"_s), qPrintable(run.err));
        QCOMPARE(qrb::test::fileBytes(report), earlier);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList{u"日報.txt"_s});
    }
};

QTEST_MAIN(ReportToolTest)
#include "tst_reporttool.moc"
