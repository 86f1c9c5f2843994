// The reports screen: its selectors, and what a press does when the day, the folder or the database
// is not as expected.
#include "support/Workspace.h"

#include "screens/reports/ReportScreen.h"
#include "shared/Cp932.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
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
    QString text(const QString &name)
    {
        auto *button = widget.findChild<QPushButton *>(name);
        return button ? button->text() : widget.findChild<QLabel *>(name)->text();
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
        QCOMPARE(s.widget.objectName() + s.widget.windowTitle(), u"frmNote帳票"_s);
        QCOMPARE(s.combo(0)->currentText() + s.combo(1)->currentText() + s.combo(2)->currentText(), u"20091009"_s);
        QCOMPARE(s.combo(0)->count(), 2);
        QCOMPARE(s.combo(0)->itemText(1), u"2010"_s);
        QCOMPARE(s.combo(2)->count(), 31);
        QStringList captions;
        for (const char *name : {"Label3(2)", "Command1(0)", "Command1(1)", "Command2(0)", "Label1(2)", "Label1(3)",
                                 "Label1(4)"}) {
            captions << s.text(QString::fromLatin1(name));
        }
        QCOMPARE(captions, (QStringList{u"(金)"_s, u"日報作成"_s, u"未来院予約者一覧"_s, u"月報作成"_s, u"年"_s, u"月"_s,
                                        u"日"_s}));
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

    // A month and day typed without their zeros still name the stored day; what Shift-JIS cannot hold
    // is written as 〓 and counted once the file is written.
    void unpaddedDayAndCharactersOutsideShiftJis()
    {
        qrb::test::Workspace ws(3);
        ws.addReservation(u"2009/04/05"_s, u"09"_s, u"𠮷田🙂"_s);
        Screen s(ws);
        s.choose(u"2009"_s, u"4"_s, u"5"_s);
        s.widget.Command1_Click(0);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.contains(u" 2 文字"_s));
        QCOMPARE(ws.viewer.shown.size(), 1);
        const QByteArray bytes = readFile(ws.viewer.shown.first());
        QVERIFY(bytes.startsWith(
            qrb::encodeCp932(u"インフルエンザ予防接種　日報    2009年04月05日\r\n■予約者数：1人"_s).bytes));
        QVERIFY(bytes.contains("\x81\xac\x93\x63\x81\xac")); // 〓田〓
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
};

QTEST_MAIN(ReportScreenTest)
#include "tst_reportscreen.moc"
