#include "screens/search/SearchScreen.h"
#include "screens/search/SearchTexts.h"

#include "support/Desk.h"
#include "support/Workspace.h"

#include <QApplication>
#include <QClipboard>
#include <QListView>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb::test;

namespace {

struct Row {
    QString knm;
    QString ydate = u"2009/10/09"_s;
    QString ytime = u"10"_s;
    QString codes = u"0 1 1 3 1 1"_s; // CFLG, SFLG, SCNT, BFLG, RFLG, KFLG; "-" for Null
    QString biko = QString();
};

int add(Workspace &ws, const Row &r)
{
    const int yno = ws.db.scalar(u"SELECT COALESCE(MAX(YNO), 0) + 1 FROM YOYAKU"_s).toInt();
    QVariantList values{yno, r.knm, r.ydate, r.ytime, r.biko};
    for (const QString &code : r.codes.split(u' ')) {
        values << (code == u"-"_s ? QVariant() : QVariant(code.toInt()));
    }
    ws.db.write(u"INSERT INTO YOYAKU (YNO, KNO, KNM, KKNM, YDATE, YTIME, BIRTHDAY, TEL1, TEL2, KMNO, BIKO, Category, "
                "CFLG, SFLG, SCNT, BFLG, RFLG, KFLG) VALUES (?, '1001', ?, 'ﾔﾏﾀﾞ', ?, ?, '45年01月02日', '03-1111', "
                "'090-2222', 'M9', ?, 0, ?, ?, ?, ?, ?, ?)"_s,
                values);
    return yno;
}

// The sixteen detail labels, Label4(0) … Label4(15).
QStringList details(const qrb::SearchScreen &screen)
{
    QStringList names;
    for (int i = 0; i < 16; ++i) {
        names << u"Label4(%1)"_s.arg(i);
    }
    return shows(&screen, names);
}

// A mouse click on a line of the result list, scrolled into view first.
void clickResult(const qrb::SearchScreen &screen, int row)
{
    auto *list = control<QListView>(&screen, u"List1"_s);
    const QModelIndex line = list->model()->index(row, 0);
    list->scrollTo(line);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(line).center());
}

} // namespace

class SearchScreenTest final : public QObject
{
    Q_OBJECT

private slots:
    // A search runs as its box is left (Tab, or Enter, which keeps the cursor), a click on a line shows that
    // reservation, and a click into a box empties the screen. A name pasted with its line break is
    // searched without it; a name another program stored with one is a line like any other.
    void listsShowsAndClearsOnAClickIntoABox()
    {
        Workspace ws;
        add(ws, {.knm = u"山田太郎"_s, .ydate = u"2009/10/10"_s, .ytime = u"09"_s});
        add(ws, {.knm = u"田中"_s});
        add(ws, {.knm = u"山田太郎"_s, .ytime = u"17"_s});
        add(ws, {.knm = u"O'Brien山田"_s, .ytime = u"17"_s});
        // Same name, day and hour twice, the name holding the line separator.
        add(ws, {.knm = u"山田＊花子"_s, .biko = u"一人目"_s});
        const int second = add(ws, {.knm = u"山田＊花子"_s, .biko = u"二人目"_s});
        add(ws, {.knm = u"山田\r\n次郎\t"_s, .ydate = u"2009/10/11"_s});
        qrb::SearchScreen s(*ws.state);
        showActive(&s);
        const auto box = [&](int i) { return control(&s, u"Text1(%1)"_s.arg(i)); };
        QGuiApplication::clipboard()->setText(u"山田\r\n"_s);
        QTest::mouseClick(box(0), Qt::LeftButton);
        QTest::keyClick(box(0), Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(box(0), Qt::Key_Tab);
        QCOMPARE(linesOf(&s, u"List1"_s), (QStringList{u"山田＊花子＊2009/10/09＊10"_s, u"山田＊花子＊2009/10/09＊10"_s,
                                                       u"山田太郎＊2009/10/09＊17"_s, u"O'Brien山田＊2009/10/09＊17"_s,
                                                       u"山田太郎＊2009/10/10＊09"_s, u"山田 次郎＊2009/10/11＊10"_s}));
        QCOMPARE(shows(&s, {u"Text1(0)"_s, u"matchCount"_s}), (QStringList{u"山田"_s, u"6件"_s}));

        clickResult(s, 1);
        QCOMPARE(shows(&s, {u"Label4(10)"_s, u"Label4(13)"_s, u"Label4(0)"_s}),
                 (QStringList{u"二人目"_s, u"山田＊花子"_s, u"2009/10/09"_s}));
        clickResult(s, 0);
        QCOMPARE(shows(&s, {u"Label4(10)"_s}), QStringList{u"一人目"_s});
        // Cancelled at another desk meanwhile, and its number written again by another program for
        // another patient: the line's reservation is gone, and the user is told so instead of being
        // shown the other patient or the details of the line clicked before.
        qrb::Database other(u"other desk"_s);
        other.DB_open(ws.target());
        other.write(u"DELETE FROM YOYAKU WHERE YNO = ?"_s, {second});
        other.write(
            u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, BIKO) VALUES (?, '他人', '2009/10/09', '10', '別人')"_s,
            {second});
        clickResult(s, 1);
        QCOMPARE(details(s), QStringList(16, QString()));
        QCOMPARE(ws.dialogs.texts(),
                 QStringList{u"選んだ予約は見つかりません。他の端末で取り消されたか、変更されたようです。"
                             u"\r\nもう一度検索してください。"_s});
        ws.dialogs.clear();

        // Leaving an empty box keeps the list.
        typeInto(box(1), QString());
        QCOMPARE(linesOf(&s, u"List1"_s).size(), 6);

        // Typed, then a click into another box: the search runs as the first box is left, then the click
        // empties everything.
        typeInto(box(4), u"1001"_s, false);
        QTest::mouseClick(box(1), Qt::LeftButton);
        QCOMPARE(linesOf(&s, u"List1"_s) + details(s), QStringList(16, QString()));
        QCOMPARE(shows(&s, {u"matchCount"_s, u"Text1(0)"_s, u"Text1(1)"_s, u"Text1(3)"_s, u"Text1(4)"_s}),
                 QStringList(5, QString()));
        QCOMPARE(QApplication::focusWidget(), box(1));

        // Leaving the box with Tab keeps the results.
        typeInto(box(1), u"ﾔﾏ"_s);
        QCOMPARE(linesOf(&s, u"List1"_s).size(), 6);
        QCOMPARE(shows(&s, {u"Text1(1)"_s}), QStringList{u"ﾔﾏ"_s});
        QVERIFY(ws.dialogs.messages.isEmpty());

        // Enter runs the search as leaving the box does, and the cursor stays.
        typeInto(box(4), u"9999\n"_s, false);
        QCOMPARE(linesOf(&s, u"List1"_s), QStringList());
        QCOMPARE(QApplication::focusWidget(), box(4));

        // The table gone under the desk (another program): the message says in Japanese what that
        // means, the engine's English after it.
        other.write(u"DROP TABLE YOYAKU"_s);
        typeInto(box(4), u"1001\n"_s, false);
        const QString told = ws.dialogs.texts().value(0);
        const qsizetype meaning = told.indexOf(u"データベースに必要な表または列がありません。"_s);
        QVERIFY2(told.startsWith(u"予約を検索できませんでした。"_s) && meaning > 0
                     && meaning < told.indexOf(u"詳細: "_s),
                 qPrintable(told));
    }

    void scrollingToTheEndShowsEveryLineOnce()
    {
        Workspace ws;
        // 250 matches in four groups of equal day and hour, entered out of order, so that the page
        // boundaries fall between reservations of the same day and hour.
        for (int i = 0; i < 250; ++i) {
            add(ws, {.knm = u"山田%1"_s.arg(i, 3, 10, QChar(u'0')),
                     .ydate = i % 2 ? u"2009/10/09"_s : u"2009/10/10"_s,
                     .ytime = i % 4 < 2 ? u"10"_s : u"09"_s});
        }
        add(ws, {.knm = u"田中"_s});
        qrb::SearchScreen s(*ws.state);
        showActive(&s);
        typeInto(control(&s, u"Text1(0)"_s), u"山田"_s);
        QCOMPARE(shows(&s, {u"matchCount"_s}), QStringList{u"100件以上"_s});
        QCOMPARE(linesOf(&s, u"List1"_s).size(), 100);

        QWidget *list = control(&s, u"List1"_s);
        list->setFocus();
        for (int presses = 0; presses < 10 && linesOf(&s, u"List1"_s).size() < 250; ++presses) {
            QTest::keyClick(list, Qt::Key_End);
            QApplication::processEvents();
        }
        QStringList whole;
        for (const qrb::SearchHit &hit : qrb::reservationsWithNameContaining(ws.db, u"山田"_s)) {
            whole << qrb::searchLine(hit);
        }
        QCOMPARE(whole.size(), 250);
        QCOMPARE(linesOf(&s, u"List1"_s), whole);
        QCOMPARE(shows(&s, {u"matchCount"_s}), QStringList{u"250件"_s});
        clickResult(s, 249);
        QCOMPARE(shows(&s, {u"Label4(13)"_s}), QStringList{whole.last().section(u'＊', 0, 0)});
    }

    void detailsShowTheCodeTexts_data()
    {
        QTest::addColumn<QString>("codes"); // CFLG, SFLG, SCNT, BFLG, RFLG, KFLG
        QTest::addColumn<QString>("texts"); // Label4(3), (15), (4), (6), (8)
        QTest::newRow("not come, seasonal, showa, visited, member")
            << u"0 1 1 3 1 1"_s << u"来院まだです。|(季節性)|昭和|来院歴あり|組合員です"_s;
        QTest::newRow("came, new type second dose, taisho, first visit, no member")
            << u"1 2 2 2 2 2"_s << u"来院しました。|(新型 2回目)|大正|来院歴なし|組合員ではありません"_s;
        QTest::newRow("heisei, first dose only, nothing entered")
            << u"0 3 1 4 0 0"_s << u"来院まだです。|(新型 1回目のみ)|平成|未入力|未入力"_s;
        QTest::newRow("western year, second dose only")
            << u"0 4 2 0 1 1"_s << u"来院まだです。|(新型 2回目のみ)|西暦|来院歴あり|組合員です"_s;
        QTest::newRow("unknown visit flag and calendar are emptied, Null dose count")
            << u"7 2 - 9 1 1"_s << u"|(新型 回目)||来院歴あり|組合員です"_s;
        QTest::newRow("kind not entered, meiji, Null visit flag")
            << u"- 0 0 1 2 2"_s << u"||明治|来院歴なし|組合員ではありません"_s;
        // The texts of the reservation shown before stay where the code has none.
        QTest::newRow("unknown kind, history and membership keep the label")
            << u"0 5 1 2 3 -"_s << u"来院まだです。|(新型 1回目のみ)|大正|来院歴あり|組合員です"_s;
    }

    void detailsShowTheCodeTexts()
    {
        QFETCH(QString, codes);
        QFETCH(QString, texts);
        const QStringList text = texts.split(u'|');
        Workspace ws;
        add(ws, {.knm = u"山田一"_s, .ydate = u"2009/10/08"_s, .codes = u"1 3 1 3 1 1"_s});
        add(ws, {.knm = u"山田花子"_s, .ytime = u"08"_s, .codes = codes, .biko = u"アレルギーあり\r\n卵"_s});
        qrb::SearchScreen s(*ws.state);
        showActive(&s);
        typeInto(control(&s, u"Text1(0)"_s), u"山田"_s);
        clickResult(s, 0);
        clickResult(s, 1);
        QCOMPARE(details(s),
                 (QStringList{u"2009/10/09"_s, QString(), u"08時 ～ 09時"_s, text[0], text[2], u"45年01月02日"_s,
                              text[3], u"1001"_s, text[4], u"M9"_s, u"アレルギーあり\n卵"_s, u"03-1111"_s,
                              u"090-2222"_s, u"山田花子"_s, u"ﾔﾏﾀﾞ"_s, text[1]}));
    }
};

QTEST_MAIN(SearchScreenTest)
#include "tst_searchscreen.moc"
