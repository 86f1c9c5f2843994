// The reports screen: what a press does when the day, the folder or the database is not as expected.
#include "support/Desk.h"
#include "support/Workspace.h"

#include "screens/reports/ReportScreen.h"
#include "shared/Cp932.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb::test;

class ReportScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void textsThatNameNoDayAreRefused_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("typed"); // year, month, day
        QTest::newRow("month 13") << u"Command1(1)"_s << QStringList{u"2009"_s, u"13"_s, u"01"_s};
        QTest::newRow("two-digit year") << u"Command1(0)"_s << QStringList{u"09"_s, u"10"_s, u"09"_s};
        QTest::newRow("full-width month, monthly") << u"Command2(0)"_s << QStringList{u"2009"_s, u"１０"_s, u"09"_s};
    }

    void textsThatNameNoDayAreRefused()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, typed);
        Workspace ws(3);
        qrb::ReportScreen screen(*ws.state);
        showActive(&screen);
        for (int i = 0; i < 3; ++i) {
            typeInto(control(&screen, u"Combo1(%1)"_s.arg(i)), typed.at(i));
        }
        click(&screen, button);
        QCOMPARE(ws.dialogs.texts(), QStringList{u"日付が正しくありません。見直してください。"_s});
        QVERIFY(ws.viewer.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/reports"_s));
    }

    // A month and day typed without their zeros still name the stored day. What Shift-JIS cannot hold
    // is written as 〓, counted in the message, and a character outside the Basic Multilingual Plane is
    // one character of the padded column, so that every later column keeps its place.
    void unpaddedDayAndCharactersOutsideShiftJis()
    {
        Workspace ws(3);
        ws.addReservation(u"2009/04/05"_s, u"09"_s, u"𠮷田🙂"_s);
        qrb::ReportScreen screen(*ws.state);
        showActive(&screen);
        for (const auto &[picker, text] : {std::pair{1, u"4"_s}, {2, u"5"_s}}) {
            typeInto(control(&screen, u"Combo1(%1)"_s.arg(picker)), text);
        }
        click(&screen, u"Command1(0)"_s);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.contains(u" 2 文字"_s));
        QCOMPARE(ws.viewer.shown.size(), 1);
        QFile file(ws.viewer.shown.first());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith(qrb::encodeCp932(u"インフルエンザ予防接種　日報    2009年04月05日\r\n"_s).bytes));
        // Name, both telephones: three columns of 14, then line B at once (no era stored).
        const QByteArray lineA =
            "\x81\x9b\x81\xac\x93\x63\x81\xac" + QByteArray(11 + 28, ' ') + qrb::encodeCp932(u"　未来院　"_s).bytes;
        QVERIFY(bytes.contains(lineA));
    }

    void aFailedWriteGetsAMessageAndNoFile_data()
    {
        QTest::addColumn<QString>("txtPath");
        QTest::newRow("folder name taken by a file") << u"taken/"_s;
        QTest::newRow("two missing levels") << u"missing/reports/"_s;
        QTest::newRow("database gone") << QString();
    }

    void aFailedWriteGetsAMessageAndNoFile()
    {
        QFETCH(QString, txtPath);
        Workspace ws(3);
        QFile taken(ws.folder() + u"/taken"_s);
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        qrb::ReportScreen screen(*ws.state);
        if (txtPath.isEmpty()) {
            ws.db.DB_close();
        } else {
            ws.state->config.TXTPATH = txtPath;
        }
        showActive(&screen);
        click(&screen, u"Command1(1)"_s);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"未来院予約者一覧を作成できませんでした。"_s));
        QVERIFY(ws.viewer.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/missing"_s));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/reports/未来院リスト.txt"_s));
        QCOMPARE(QFileInfo(ws.folder() + u"/taken"_s).size(), 0);
    }
};

QTEST_MAIN(ReportScreenTest)
#include "tst_reportscreen.moc"
