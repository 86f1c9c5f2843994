// The reports screen: its selectors, and what a press does when the day, the folder or the database
// is not as expected.
#include "screens/reports/ReportSeed.h"
#include "support/Workspace.h"

#include "screens/reports/ReportScreen.h"
#include "shared/Cp932.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Screen {
    explicit Screen(qrb::test::Workspace &ws)
        : widget(*ws.state)
    {
    }
    QComboBox *combo(int i) { return widget.findChild<QComboBox *>(u"Combo1(%1)"_s.arg(i)); }
    void choose(const QString &y, const QString &m, const QString &d)
    {
        combo(0)->setCurrentText(y);
        combo(1)->setCurrentText(m);
        combo(2)->setCurrentText(d);
    }
    void leave(int i)
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(combo(i), &out);
    }
    qrb::ReportScreen widget;
};

} // namespace

class ReportScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void opensOnTodayWithItsControls()
    {
        qrb::test::Workspace ws(3);
        Screen s(ws);
        QCOMPARE(s.widget.objectName(), u"frmNote"_s);
        QCOMPARE(s.widget.windowTitle(), u"帳票"_s);
        QCOMPARE(s.combo(0)->currentText() + s.combo(1)->currentText() + s.combo(2)->currentText(), u"20091009"_s);
        QCOMPARE(s.combo(0)->count(), 2);
        QCOMPARE(s.combo(0)->itemText(1), u"2010"_s);
        QCOMPARE(s.combo(2)->count(), 31);
        QCOMPARE(s.widget.findChild<QLabel *>(u"Label3(2)"_s)->text(), u"(金)"_s);
        const QStringList captions = {u"Command1(0)=日報作成"_s, u"Command1(1)=未来院予約者一覧"_s,
                                      u"Command2(0)=月報作成"_s, u"Label1(2)=年"_s,
                                      u"Label1(3)=月"_s,         u"Label1(4)=日"_s};
        for (const QString &c : captions) {
            const QString name = c.section(u'=', 0, 0);
            QWidget *w = s.widget.findChild<QWidget *>(name);
            QVERIFY2(w, qPrintable(name));
            const auto *button = qobject_cast<QPushButton *>(w);
            QCOMPARE(button ? button->text() : static_cast<QLabel *>(w)->text(), c.section(u'=', 1));
        }
    }

    void dayFollowsTheMonthWhenTheFocusLeaves()
    {
        qrb::test::Workspace ws(3);
        Screen s(ws);
        s.choose(u"2009"_s, u"10"_s, u"31"_s);
        s.combo(1)->setCurrentText(u"04"_s);
        s.leave(1);
        QCOMPARE(s.combo(2)->currentText(), u"30"_s);
        QCOMPARE(s.widget.findChild<QLabel *>(u"Label3(2)"_s)->text(), u"(木)"_s);
    }

    void textsThatNameNoDayAreRefused_data()
    {
        QTest::addColumn<int>("button"); // 0 daily, 1 list, 2 monthly
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("month 13") << 0 << QStringList{u"2009"_s, u"13"_s, u"01"_s};
        QTest::newRow("30 February") << 1 << QStringList{u"2009"_s, u"02"_s, u"30"_s};
        QTest::newRow("two-digit year") << 0 << QStringList{u"09"_s, u"10"_s, u"09"_s};
        QTest::newRow("letters in the day") << 0 << QStringList{u"2009"_s, u"10"_s, u"0x"_s};
        QTest::newRow("month of the monthly report") << 2 << QStringList{u"2009"_s, u"１０"_s, u"09"_s};
        QTest::newRow("empty year, monthly") << 2 << QStringList{QString(), u"10"_s, u"09"_s};
    }

    void textsThatNameNoDayAreRefused()
    {
        QFETCH(int, button);
        QFETCH(QStringList, texts);
        qrb::test::Workspace ws(3);
        Screen s(ws);
        s.choose(texts.at(0), texts.at(1), texts.at(2));
        button < 2 ? s.widget.Command1_Click(button) : s.widget.Command2_Click(0);
        QCOMPARE(ws.dialogs.texts(), QStringList{u"日付が正しくありません。見直してください。"_s});
        QVERIFY(ws.viewer.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/reports"_s));
    }

    void aMonthTypedWithoutItsZeroStillFindsTheDay()
    {
        qrb::test::Workspace ws(3);
        ws.addReservation(u"2009/04/05"_s, u"09"_s, u"佐藤花子"_s);
        Screen s(ws);
        s.choose(u"2009"_s, u"4"_s, u"5"_s);
        s.widget.Command1_Click(0);
        const QByteArray bytes = readFile(ws.folder() + u"/reports/日報.txt"_s);
        QVERIFY(bytes.startsWith(
            qrb::encodeCp932(u"インフルエンザ予防接種　日報    2009年04月05日\r\n■予約者数：1人"_s).bytes));
    }

    void theDayDoesNotChangeTheMonthlyReport()
    {
        qrb::test::Workspace ws(3);
        ws.addReservation(u"2009/10/31"_s, u"09"_s, u"佐藤花子"_s);
        Screen s(ws);
        QByteArray first;
        for (const QString &day : {u"01"_s, u"31"_s, u"xx"_s}) {
            s.combo(2)->setCurrentText(day);
            s.widget.Command2_Click(0);
            const QByteArray bytes = readFile(ws.folder() + u"/reports/月報.txt"_s);
            QVERIFY(!bytes.isEmpty());
            if (first.isEmpty()) {
                first = bytes;
            }
            QCOMPARE(bytes, first); // rewritten, never appended
        }
        QVERIFY(ws.dialogs.messages.isEmpty());
        QCOMPARE(ws.viewer.shown.size(), 3);
        QVERIFY(ws.viewer.shown.last().endsWith(u"/reports/月報.txt"_s));
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
        qrb::test::Workspace ws(3);
        QFile taken(ws.folder() + u"/taken"_s);
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        Screen s(ws);
        if (txtPath.isEmpty()) {
            ws.db.DB_close();
        } else {
            ws.state->config.TXTPATH = txtPath;
        }
        s.widget.Command1_Click(1);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"未来院予約者一覧を作成できませんでした。"_s));
        QVERIFY(ws.viewer.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/missing"_s));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/reports/未来院リスト.txt"_s));
        QCOMPARE(QFileInfo(ws.folder() + u"/taken"_s).size(), 0);
    }

    void charactersOutsideShiftJisAreCountedAfterWriting()
    {
        qrb::test::Workspace ws(3);
        ws.addReservation(u"2009/10/09"_s, u"09"_s, u"𠮷田🙂"_s);
        Screen s(ws);
        s.widget.Command1_Click(0);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.contains(u" 2 文字"_s));
        QCOMPARE(ws.viewer.shown.size(), 1);
        QVERIFY(readFile(ws.viewer.shown.first()).contains("\x81\xac\x93\x63\x81\xac")); // 〓田〓
    }
};

QTEST_MAIN(ReportScreenTest)
#include "tst_reportscreen.moc"
