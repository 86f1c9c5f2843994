#include "screens/search/SearchScreen.h"

#include "support/Workspace.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;

namespace {

struct Row {
    QString knm;
    QString ydate = u"2009/10/09"_s;
    QString ytime = u"10"_s;
    QVariant cflg = 0, sflg = 1, scnt = 1, bflg = 3, rflg = 1, kflg = 1;
    QString biko = QString();
};

int add(Workspace &ws, const Row &r)
{
    const int yno = ws.db.scalar(u"SELECT COALESCE(MAX(YNO), 0) + 1 FROM YOYAKU"_s).toInt();
    ws.db.write(u"INSERT INTO YOYAKU (YNO, KNO, KNM, KKNM, YDATE, YTIME, BFLG, BIRTHDAY, TEL1, TEL2, RFLG, KFLG, KMNO, "
                "BIKO, SFLG, SCNT, CFLG, Category) VALUES (?, '1001', ?, 'ﾔﾏﾀﾞ', ?, ?, ?, '45年01月02日', '03-1111', "
                "'090-2222', ?, ?, 'M9', ?, ?, ?, ?, 0)"_s,
                {yno, r.knm, r.ydate, r.ytime, r.bflg, r.rflg, r.kflg, r.biko, r.sflg, r.scnt, r.cflg});
    return yno;
}

// The screen shown and active, so that focus moves as it does at the desk.
struct Screen {
    explicit Screen(Workspace &ws)
        : widget(*ws.state)
    {
        widget.show();
        QVERIFY(QTest::qWaitForWindowActive(&widget));
    }
    QLineEdit *box(int i) { return widget.findChild<QLineEdit *>(u"Text1(%1)"_s.arg(i)); }
    QListWidget *list() { return widget.findChild<QListWidget *>(u"List1"_s); }
    QString value(int i) { return widget.findChild<QLabel *>(u"Label4(%1)"_s.arg(i))->text(); }
    QStringList lines()
    {
        QStringList out;
        for (int i = 0; i < list()->count(); ++i) {
            out << list()->item(i)->text();
        }
        return out;
    }
    // Types into a box and leaves it with Tab, which runs the search and keeps the screen.
    void search(int i, const QString &text)
    {
        box(i)->setFocus();
        QTest::sendKeyEvent(QTest::Click, box(i), Qt::Key_unknown, text, Qt::NoModifier);
        QTest::keyClick(box(i), Qt::Key_Tab);
    }
    void click(int row)
    {
        QListWidget *l = list();
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
    }
    qrb::SearchScreen widget;
};

} // namespace

class SearchScreenTest final : public QObject
{
    Q_OBJECT

private slots:
    void leavingABoxListsEveryReservationInOrder();
    void emptyBoxKeepsTheList();
    void clickIntoABoxClearsButTabKeeps();
    void detailsShowTheCodeTexts_data();
    void detailsShowTheCodeTexts();
    void unknownCodesLeaveTheLabelAsItWas();
    void clickShowsExactlyThatReservation();
    void vanishedReservationLeavesTheDetails();
};

void SearchScreenTest::leavingABoxListsEveryReservationInOrder()
{
    Workspace ws;
    add(ws, {.knm = u"山田太郎"_s, .ydate = u"2009/10/10"_s, .ytime = u"09"_s});
    add(ws, {.knm = u"田中"_s});
    add(ws, {.knm = u"山田太郎"_s, .ydate = u"2009/10/09"_s, .ytime = u"17"_s});
    add(ws, {.knm = u"O'Brien山田"_s, .ydate = u"2009/10/09"_s, .ytime = u"17"_s});
    Screen s(ws);
    s.search(0, u"山田"_s);
    QCOMPARE(s.lines(), (QStringList{u"山田太郎＊2009/10/09＊17"_s, u"O'Brien山田＊2009/10/09＊17"_s,
                                     u"山田太郎＊2009/10/10＊09"_s}));
    QCOMPARE(s.box(0)->text(), u"山田"_s);
    QVERIFY(ws.dialogs.messages.isEmpty());
}

void SearchScreenTest::emptyBoxKeepsTheList()
{
    Workspace ws;
    add(ws, {.knm = u"山田"_s});
    Screen s(ws);
    s.search(0, u"山田"_s);
    QCOMPARE(s.list()->count(), 1);
    s.box(1)->setFocus();
    QTest::keyClick(s.box(1), Qt::Key_Tab);
    QCOMPARE(s.list()->count(), 1);
}

void SearchScreenTest::clickIntoABoxClearsButTabKeeps()
{
    Workspace ws;
    add(ws, {.knm = u"山田"_s});
    Screen s(ws);
    s.search(0, u"山田"_s);
    s.click(0);
    QCOMPARE(s.value(13), u"山田"_s);

    // Typed, then a click into another box: the search runs as the first box is left, then the click
    // empties everything.
    s.box(4)->setFocus();
    QTest::keyClicks(s.box(4), u"1001"_s);
    QTest::mouseClick(s.box(1), Qt::LeftButton);
    QCOMPARE(s.list()->count(), 0);
    for (int i : {0, 1, 3, 4}) {
        QCOMPARE(s.box(i)->text(), QString());
    }
    for (int i = 0; i < 16; ++i) {
        QCOMPARE(s.value(i), QString());
    }
    QCOMPARE(QApplication::focusWidget(), s.box(1));

    // Leaving the box with Tab keeps the results.
    QTest::sendKeyEvent(QTest::Click, s.box(1), Qt::Key_unknown, u"ﾔﾏ"_s, Qt::NoModifier);
    QTest::keyClick(s.box(1), Qt::Key_Tab);
    QCOMPARE(s.list()->count(), 1);
    QCOMPARE(s.box(1)->text(), u"ﾔﾏ"_s);
}

void SearchScreenTest::detailsShowTheCodeTexts_data()
{
    QTest::addColumn<QVariant>("cflg");
    QTest::addColumn<QVariant>("sflg");
    QTest::addColumn<QVariant>("scnt");
    QTest::addColumn<QVariant>("bflg");
    QTest::addColumn<QVariant>("rflg");
    QTest::addColumn<QVariant>("kflg");
    QTest::addColumn<QStringList>("texts"); // Label4(3), (15), (4), (6), (8)

    QTest::newRow("not come, seasonal, showa, visited, member")
        << QVariant(0) << QVariant(1) << QVariant(1) << QVariant(3) << QVariant(1) << QVariant(1)
        << QStringList{u"来院まだです。"_s, u"(季節性)"_s, u"昭和"_s, u"来院歴あり"_s, u"組合員です"_s};
    QTest::newRow("came, new type second dose, taisho, first visit, no member")
        << QVariant(1) << QVariant(2) << QVariant(2) << QVariant(2) << QVariant(2) << QVariant(2)
        << QStringList{u"来院しました。"_s, u"(新型 2回目)"_s, u"大正"_s, u"来院歴なし"_s, u"組合員ではありません"_s};
    QTest::newRow("heisei, first dose only, nothing entered")
        << QVariant(0) << QVariant(3) << QVariant(1) << QVariant(4) << QVariant(0) << QVariant(0)
        << QStringList{u"来院まだです。"_s, u"(新型 1回目のみ)"_s, u"平成"_s, u"未入力"_s, u"未入力"_s};
    QTest::newRow("western year, second dose only, not entered kind")
        << QVariant(0) << QVariant(4) << QVariant(2) << QVariant(0) << QVariant(1) << QVariant(1)
        << QStringList{u"来院まだです。"_s, u"(新型 2回目のみ)"_s, u"西暦"_s, u"来院歴あり"_s, u"組合員です"_s};
    QTest::newRow("unknown visit flag and calendar, Null dose count")
        << QVariant(7) << QVariant(2) << QVariant() << QVariant(9) << QVariant(1) << QVariant(1)
        << QStringList{QString(), u"(新型 回目)"_s, QString(), u"来院歴あり"_s, u"組合員です"_s};
    QTest::newRow("kind not entered, meiji, Null flags")
        << QVariant() << QVariant(0) << QVariant(0) << QVariant(1) << QVariant(2) << QVariant(2)
        << QStringList{QString(), QString(), u"明治"_s, u"来院歴なし"_s, u"組合員ではありません"_s};
}

void SearchScreenTest::detailsShowTheCodeTexts()
{
    QFETCH(QVariant, cflg);
    QFETCH(QVariant, sflg);
    QFETCH(QVariant, scnt);
    QFETCH(QVariant, bflg);
    QFETCH(QVariant, rflg);
    QFETCH(QVariant, kflg);
    QFETCH(QStringList, texts);

    Workspace ws;
    add(ws, {.knm = u"山田花子"_s, .ytime = u"08"_s, .cflg = cflg, .sflg = sflg, .scnt = scnt, .bflg = bflg,
             .rflg = rflg, .kflg = kflg, .biko = u"アレルギーあり\r\n卵"_s});
    Screen s(ws);
    s.search(0, u"花子"_s);
    s.click(0);
    QCOMPARE((QStringList{s.value(3), s.value(15), s.value(4), s.value(6), s.value(8)}), texts);
    QCOMPARE(s.value(0), u"2009/10/09"_s);
    QCOMPARE(s.value(1), QString());
    QCOMPARE(s.value(2), u"08時 ～ 09時"_s);
    QCOMPARE(s.value(5), u"45年01月02日"_s);
    QCOMPARE(s.value(7), u"1001"_s);
    QCOMPARE(s.value(9), u"M9"_s);
    QCOMPARE(s.value(10), u"アレルギーあり\n卵"_s);
    QCOMPARE(s.value(11), u"03-1111"_s);
    QCOMPARE(s.value(12), u"090-2222"_s);
    QCOMPARE(s.value(13), u"山田花子"_s);
    QCOMPARE(s.value(14), u"ﾔﾏﾀﾞ"_s);
}

void SearchScreenTest::unknownCodesLeaveTheLabelAsItWas()
{
    Workspace ws;
    add(ws, {.knm = u"山田一"_s, .sflg = 2, .scnt = 1, .rflg = 2, .kflg = 1});
    add(ws, {.knm = u"山田二"_s, .sflg = 5, .scnt = 1, .rflg = 3, .kflg = QVariant()});
    Screen s(ws);
    s.search(0, u"山田"_s);
    s.click(0);
    s.click(1);
    QCOMPARE(s.value(13), u"山田二"_s);
    QCOMPARE(s.value(15), u"(新型 1回目)"_s);
    QCOMPARE(s.value(6), u"来院歴なし"_s);
    QCOMPARE(s.value(8), u"組合員です"_s);
}

void SearchScreenTest::clickShowsExactlyThatReservation()
{
    Workspace ws;
    // Same name, day and hour twice, and a name holding the line separator.
    add(ws, {.knm = u"山田＊花子"_s, .biko = u"一人目"_s});
    add(ws, {.knm = u"山田＊花子"_s, .biko = u"二人目"_s});
    Screen s(ws);
    s.search(0, u"＊"_s);
    QCOMPARE(s.lines(), (QStringList{u"山田＊花子＊2009/10/09＊10"_s, u"山田＊花子＊2009/10/09＊10"_s}));
    s.click(1);
    QCOMPARE(s.value(10), u"二人目"_s);
    QCOMPARE(s.value(13), u"山田＊花子"_s);
    QCOMPARE(s.value(0), u"2009/10/09"_s);
    s.click(0);
    QCOMPARE(s.value(10), u"一人目"_s);
}

void SearchScreenTest::vanishedReservationLeavesTheDetails()
{
    Workspace ws;
    add(ws, {.knm = u"山田"_s});
    const int gone = add(ws, {.knm = u"山田次郎"_s});
    Screen s(ws);
    s.search(0, u"山田"_s);
    s.click(0);
    ws.db.write(u"DELETE FROM YOYAKU WHERE YNO = ?"_s, {gone});
    s.click(1);
    QCOMPARE(s.value(13), u"山田"_s);
    QVERIFY(ws.dialogs.messages.isEmpty());
}

QTEST_MAIN(SearchScreenTest)
#include "tst_searchscreen.moc"
