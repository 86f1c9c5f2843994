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

    // A date that names no day, a folder that cannot be made, a database gone: one message, no file.
    void aPressThatCannotWriteWritesNothing_data()
    {
        QTest::addColumn<QString>("typed");  // year, month, day
        QTest::addColumn<QString>("broken"); // TXTPATH, or "db"
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("told");
        const QString wrongDate = u"日付が正しくありません。見直してください。"_s;
        const QString noList = u"未来院予約者一覧を作成できませんでした。"_s;
        QTest::newRow("month 13") << u"2009 13 01"_s << QString() << u"Command1(1)"_s << wrongDate;
        QTest::newRow("two-digit year") << u"09 10 09"_s << QString() << u"Command1(0)"_s << wrongDate;
        QTest::newRow("full-width month, monthly") << u"2009 １０ 09"_s << QString() << u"Command2(0)"_s << wrongDate;
        QTest::newRow("folder name taken by a file") << QString() << u"taken/"_s << u"Command1(1)"_s << noList;
        QTest::newRow("two missing levels") << QString() << u"missing/reports/"_s << u"Command1(1)"_s << noList;
        QTest::newRow("database gone") << QString() << u"db"_s << u"Command1(1)"_s << noList;
    }

    void aPressThatCannotWriteWritesNothing()
    {
        QFETCH(QString, typed);
        QFETCH(QString, broken);
        QFETCH(QString, button);
        QFETCH(QString, told);
        Workspace ws(3);
        QFile taken(ws.folder() + u"/taken"_s);
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        qrb::ReportScreen screen(*ws.state);
        if (broken == u"db"_s) {
            ws.db.DB_close();
        } else if (!broken.isEmpty()) {
            ws.state->config.TXTPATH = broken;
        }
        showActive(&screen);
        const QStringList parts = typed.split(u' ', Qt::SkipEmptyParts);
        for (int i = 0; i < parts.size(); ++i) {
            typeInto(control(&screen, u"Combo1(%1)"_s.arg(i)), parts.at(i));
        }
        click(&screen, button);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(told));
        QVERIFY(ws.viewer.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/missing"_s));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/reports/未来院リスト.txt"_s));
        QVERIFY(parts.isEmpty() || !QFileInfo::exists(ws.folder() + u"/reports"_s));
        QCOMPARE(QFileInfo(ws.folder() + u"/taken"_s).size(), 0);
    }
};

QTEST_MAIN(ReportScreenTest)
#include "tst_reportscreen.moc"
