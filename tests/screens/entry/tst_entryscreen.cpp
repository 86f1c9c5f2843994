#include "support/Common.h"
#include "support/Desk.h"
#include "support/PgProxy.h"
#include "support/Workspace.h"

#include "config/ClosedDays.h"
#include "db/Database.h"
#include "screens/common/ClosedDayLook.h"
#include "screens/entry/EntryScreen.h"
#include "shared/Cp932.h"
#include "shared/Dates.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTextDocument>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;
using namespace qrb;
using namespace qrb::test;

namespace {

// One entry screen, shown and active, on a clinic of its own; everything reaches it as keys and clicks.
struct Desk {
    // `booked` are in the slot the screen opens on.
    explicit Desk(int places = 3, QDateTime at = QDateTime(QDate(2009, 10, 9), QTime(10, 30)), bool dbAway = false,
                  const QStringList &booked = {})
        : ws(places)
    {
        ws.clock.at = at;
        for (const QString &name : booked) {
            ws.addReservation(dateKey(at.date()), clampedSlot(at.time()), name);
        }
        if (dbAway) {
            ws.db.DB_close();
        }
        screen = std::make_unique<EntryScreen>(*ws.state);
        showActive(screen.get());
    }
    QLineEdit *box(int index) const { return control<QLineEdit>(screen.get(), u"Text1(%1)"_s.arg(index)); }
    QComboBox *combo(int row, int index) const
    {
        return control<QComboBox>(screen.get(), u"Combo%1(%2)"_s.arg(row).arg(index));
    }
    void press(const QString &name) const { click(screen.get(), name); }
    // A new entry as at the desk: a click into the name box, then the name typed.
    void enterName(const QString &name) const
    {
        press(u"Text1(0)"_s);
        typeInto(box(0), name, false);
    }
    // "YYYY/MM/DD HH" typed into a row's four pickers, leaving each with Tab.
    void typeRow(int row, const QString &slot) const
    {
        const QStringList parts = QString(slot).replace(u'/', u' ').split(u' ');
        for (int i = 0; i < 4; ++i) {
            typeInto(combo(row, i), parts[i]);
        }
    }
    QStringList show(const QStringList &names) const { return shows(screen.get(), names); }
    // "10" = 予約登録 enabled, 予約取消 disabled.
    QString buttons() const
    {
        return u"%1%2"_s.arg(int(control(screen.get(), u"Command1(0)"_s)->isEnabled()))
            .arg(int(control(screen.get(), u"Command1(1)"_s)->isEnabled()));
    }
    int rows() const { return int(stored(ws.db, u"YNO"_s).size()); }
    QStringList told() const { return ws.dialogs.texts(); }

    mutable Workspace ws;
    std::unique_ptr<EntryScreen> screen;
};

const QString overbooking = u"予約可能人数を超えました。\r\nＯＫを押すと強制入力します。"_s;
const QString secondBeforeFirst = u"2回目の摂取日は1回目の摂取日より未来の日付を入力してください。"_s;

// The line under a slot's pickers; more booked than offered shows the places left below zero.
QString slotText(int booked, int places)
{
    return u"現在の予約人数：%1人    予約可能人数：あと%2人"_s.arg(booked).arg(places - booked);
}

} // namespace

class TestEntryScreen : public QObject
{
    Q_OBJECT

private slots:
    // Opened before the first slot on the last day of February: the first slot, the one day left.
    void openingShowsTodayTheClampedSlotAndTheRestOfTheMonth()
    {
        Desk desk(3, QDateTime(QDate(2009, 2, 28), QTime(6, 30)));
        QCOMPARE(desk.show({u"Combo1(0)"_s, u"Combo1(3)"_s, u"Label3(2)"_s, u"Label3(0)"_s}),
                 (QStringList{u"2009"_s, u"08"_s, u"(土)"_s, slotText(0, 3)}));
        QCOMPARE(desk.buttons(), u"00"_s);
        QCOMPARE(linesOf(desk.screen.get(), u"ListView1"_s), QStringList{u"28日 土"_s});

        // Tab visits the boxes, lists and buttons in the form's order.
        desk.box(8)->setFocus(Qt::TabFocusReason);
        QStringList stops;
        while (stops.size() < 30 && (stops.isEmpty() || QApplication::focusWidget() != desk.box(8))) {
            stops << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(stops.join(u' '), u"Text1(8) Text1(0) Text1(1) Combo1(4) Text1(2) Text1(3) Text1(4) Text1(6) "
                                   u"Combo1(0) Combo1(1) Combo1(2) Combo1(3) Command2(0) List1 Text1(5) "
                                   u"Option1(0) Option2(0) Option3(0) ListView1"_s);
    }

    // Typed texts stay as typed (no completion turns "2" into "20") until leaving pads the month, day or
    // hour, half- or full-width, with the weekday following (none for what is no date); the booking
    // goes to the slot typed, and a slot that is no slot is refused.
    void typedPickersBookTheSlotTyped_data()
    {
        QTest::addColumn<QString>("typed");  // picker index:text …, in typing order
        QTest::addColumn<QString>("shown");  // month, day, hour, weekday after leaving
        QTest::addColumn<QString>("booked"); // YDATE YTIME stored, empty: refused
        QTest::newRow("day 2") << u"2:2"_s << u"10 02 10 (金)"_s << u"2009/10/02 10"_s;
        QTest::newRow("hour 9") << u"3:9"_s << u"10 09 09 (金)"_s << u"2009/10/09 09"_s;
        QTest::newRow("hour 1") << u"3:1"_s << u"10 09 01 (金)"_s << QString();
        QTest::newRow("month 1") << u"1:1"_s << u"01 09 10 (金)"_s << u"2009/01/09 10"_s;
        QTest::newRow("full-width month and hour") << u"1:３ 3:９"_s << u"03 09 09 (月)"_s << u"2009/03/09 09"_s;
        QTest::newRow("full-width day") << u"2:２８"_s << u"10 28 10 (水)"_s << u"2009/10/28 10"_s;
        QTest::newRow("31 into April") << u"2:31 1:04"_s << u"04 30 10 (木)"_s << u"2009/04/30 10"_s;
        QTest::newRow("31 into February") << u"2:31 1:02"_s << u"02 28 10 (土)"_s << u"2009/02/28 10"_s;
        QTest::newRow("month 13") << u"1:13"_s << u"13 09 10 "_s << QString();
    }

    void typedPickersBookTheSlotTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, booked);
        Desk desk;
        desk.enterName(u"山田"_s);
        for (const QString &t : typed.split(u' ')) {
            typeInto(desk.combo(1, t.section(u':', 0, 0).toInt()), t.section(u':', 1));
        }
        QCOMPARE(desk.show({u"Combo1(1)"_s, u"Combo1(2)"_s, u"Combo1(3)"_s, u"Label3(2)"_s}).join(u' '), shown);
        desk.press(u"Command1(0)"_s);
        QCOMPARE(stored(desk.ws.db, u"YDATE, YTIME"_s).join(u' '), booked);
        // Refused, the date is named as wrong and the form stays.
        QCOMPARE(desk.told().size(), int(booked.isEmpty()));
        QCOMPARE(desk.told().value(0).startsWith(u"日付が正しくありません。"_s), booked.isEmpty());
        QCOMPARE(desk.box(0)->text(), booked.isEmpty() ? u"山田"_s : QString());
    }

    // A full or closed slot asks before a new record is written: OK writes it, Cancel keeps the form. A
    // name already booked there is written over without asking.
    void overbookingAsksOnlyForANewRecord_data()
    {
        QTest::addColumn<int>("places");
        QTest::addColumn<int>("booked");
        QTest::addColumn<bool>("again"); // the name is one of those booked
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::newRow("room left") << 5 << 4 << false << true << false;
        QTest::newRow("full, OK") << 5 << 5 << false << true << true;
        QTest::newRow("full, Cancel") << 5 << 5 << false << false << true;
        QTest::newRow("closed slot, Cancel") << 0 << 0 << false << false << true;
        QTest::newRow("full, the same name again") << 2 << 2 << true << false << false;
    }

    void overbookingAsksOnlyForANewRecord()
    {
        QFETCH(int, places);
        QFETCH(int, booked);
        QFETCH(bool, again);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        Desk desk(places);
        for (int i = 0; i < booked; ++i) {
            desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, again && i == 0 ? u"山田"_s : u"患者%1"_s.arg(i), 1);
        }
        desk.ws.dialogs.answers = {answer};
        desk.enterName(u"山田"_s);
        desk.press(u"Command1(0)"_s);
        QCOMPARE(desk.told(), asked ? QStringList{overbooking} : QStringList());
        // Written (over the same number, not yet come again), the form empties and the slot counts it;
        // refused, the form stays as it was, its slot line as read before the others were booked.
        const bool written = answer || !asked;
        const int total = booked + int(written && !again);
        QCOMPARE(stored(desk.ws.db, u"YNO, CFLG"_s, u"KNM = '山田'"_s),
                 (written ? QStringList{QString::number(again ? 1 : total), u"0"_s} : QStringList()));
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Label3(0)"_s}),
                 (QStringList{written ? QString() : u"山田"_s, slotText(written ? total : 0, places)}));
    }

    // Leaving the number looks the patient up (the newest record with it; an empty number looks nothing
    // up); a left click into the name starts a new entry, while Tab and a right click (to paste) keep
    // the form. The new entry is stored as typed.
    void registeringWritesWhatWasTyped()
    {
        Desk desk;
        desk.ws.addReservation(u"2009/10/01"_s, u"10"_s, u"山田一郎"_s, 1, u"123"_s);
        desk.ws.addReservation(u"2009/10/02"_s, u"10"_s, u"山田太郎"_s, 1, u"123"_s);
        desk.ws.addReservation(u"2009/10/03"_s, u"10"_s, u"番号なし"_s, 1, QString());
        desk.press(u"Text1(8)"_s);
        QTest::keyClick(desk.box(8), Qt::Key_Tab);
        QCOMPARE(desk.box(0)->text(), QString());
        desk.press(u"Text1(8)"_s);
        typeInto(desk.box(8), u"123"_s);
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Option1(0)"_s}), (QStringList{u"山田太郎"_s, u"on"_s}));
        QCOMPARE(desk.buttons(), u"10"_s);
        QCOMPARE(QApplication::focusWidget(), desk.box(0));
        desk.press(u"Text1(3)"_s);
        QTest::mouseClick(desk.box(0), Qt::RightButton);
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Text1(8)"_s}), (QStringList{u"山田太郎"_s, u"123"_s}));
        desk.press(u"Text1(3)"_s);
        desk.press(u"Text1(0)"_s);
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Text1(8)"_s, u"Option1(0)"_s}),
                 (QStringList{QString(), QString(), u"off"_s}));

        for (const auto &[index, text] : {std::pair{8, u"456"_s}, {0, u"O'Brien"_s}, {1, u"ｵﾌﾞﾗｲｴﾝ"_s}}) {
            typeInto(desk.box(index), text);
        }
        typeInto(desk.combo(1, 4), u"令和"_s);
        typeInto(desk.box(2), u"010501"_s);
        for (const QString &option : {u"Option1(1)"_s, u"Option2(0)"_s, u"Option3(3)"_s}) {
            desk.press(option);
        }
        typeInto(control(desk.screen.get(), u"Text1(6)"_s), u"1行目\n2行目"_s);
        desk.press(u"Command1(0)"_s);
        const QString columns = u"YNO, KNO, KKNM, BFLG, BIRTHDAY, RFLG, KFLG, SFLG, SCNT, BIKO, CFLG"_s;
        QCOMPARE(stored(desk.ws.db, columns, u"KNM = 'O''Brien'"_s),
                 (QStringList{u"4"_s, u"456"_s, u"ｵﾌﾞﾗｲｴﾝ"_s, u"5"_s, u"01年05月01日"_s, u"2"_s, u"1"_s, u"4"_s, u"2"_s,
                              u"1行目\n2行目"_s, u"0"_s}));
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Option3(3)"_s}), (QStringList{QString(), u"off"_s}));

        // No era chosen leaves the stored one.
        desk.enterName(u"O'Brien"_s);
        typeInto(desk.combo(1, 4), QString());
        desk.press(u"Command1(0)"_s);
        QCOMPARE(stored(desk.ws.db, u"YNO, BFLG, SFLG"_s, u"KNM = 'O''Brien'"_s),
                 (QStringList{u"4"_s, u"5"_s, u"0"_s}));
        QVERIFY(desk.told().isEmpty());
    }

    // A text pasted from a spreadsheet or a mail brings its line breaks and tabs along: every box stores
    // it on one line, so that the name list shows one name; the remarks keep their own line breaks.
    void pastedLineBreaksAreNotStored_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("stored");
        QTest::newRow("name") << u"Text1(0)"_s << u"改行\n太郎\r\n"_s << u"KNM"_s << u"改行 太郎"_s;
        QTest::newRow("kana") << u"Text1(1)"_s << u"ｶｲｷﾞｮｳ\tﾀﾛｳ"_s << u"KKNM"_s << u"ｶｲｷﾞｮｳ ﾀﾛｳ"_s;
        QTest::newRow("birth date, rewritten")
            << u"Text1(2)"_s << u"20020101\r\n"_s << u"BIRTHDAY"_s << u"2002年01月01日"_s;
        QTest::newRow("telephone") << u"Text1(4)"_s << u"03-1234\u2028"_s << u"TEL2"_s << u"03-1234"_s;
        QTest::newRow("member number") << u"Text1(5)"_s << u"\tM-7\x1b"_s << u"KMNO"_s << u"M-7"_s;
        QTest::newRow("patient number") << u"Text1(8)"_s << u"12\n34"_s << u"KNO"_s << u"12 34"_s;
        QTest::newRow("remarks") << u"Text1(6)"_s << u"1行目\t注意\n2行目\x07"_s << u"BIKO"_s << u"1行目 注意\n2行目"_s;
    }

    void pastedLineBreaksAreNotStored()
    {
        QFETCH(QString, box);
        QFETCH(QString, pasted);
        QFETCH(QString, column);
        QFETCH(QString, stored);
        Desk desk;
        QGuiApplication::clipboard()->setText(pasted);
        const bool name = box == u"Text1(0)"_s;
        if (name) {
            desk.press(box);
        } else {
            desk.enterName(u"山田"_s);
        }
        QWidget *target = control(desk.screen.get(), box);
        target->setFocus(Qt::TabFocusReason);
        QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_Tab);
        desk.press(u"Command1(0)"_s);
        QCOMPARE(qrb::test::stored(desk.ws.db, column), QStringList{stored});
        QCOMPARE(linesOf(desk.screen.get(), u"List1"_s), QStringList{name ? stored : u"山田"_s});
    }

    // A full second slot asks again under its own title; Cancel there keeps the first dose and the form.
    void newTypeBooksBothDosesAndCancelAtTheSecondWarningKeepsTheFirst()
    {
        Desk desk(1);
        desk.ws.addReservation(u"2010/01/14"_s, u"10"_s, u"先客"_s);
        desk.enterName(u"山田"_s);
        desk.typeRow(1, u"2009/12/24 10"_s);
        desk.press(u"Option3(1)"_s);
        // Three weeks later, across the year end.
        QCOMPARE(
            desk.show({u"Combo2(0)"_s, u"Combo2(1)"_s, u"Combo2(2)"_s, u"Combo2(3)"_s, u"Label4(2)"_s, u"Label4(0)"_s}),
            (QStringList{u"2010"_s, u"01"_s, u"14"_s, u"10"_s, u"(木)"_s, slotText(1, 1)}));
        desk.ws.dialogs.answers = {false};
        desk.press(u"Command1(0)"_s);
        QCOMPARE(desk.ws.dialogs.messages.size(), 1);
        QCOMPARE(desk.ws.dialogs.messages[0].title, u"2回目の摂取"_s);
        const QString columns = u"YDATE, YNO, SFLG, SCNT"_s;
        QCOMPARE(stored(desk.ws.db, columns, u"KNM = '山田'"_s),
                 (QStringList{u"2009/12/24"_s, u"2"_s, u"2"_s, u"1"_s}));
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Option3(1)"_s}), (QStringList{u"山田"_s, u"on"_s}));

        // Trying again with another second slot completes the pair without a duplicate.
        typeInto(desk.combo(2, 2), u"15"_s);
        desk.press(u"Command1(0)"_s);
        QCOMPARE(stored(desk.ws.db, columns, u"KNM = '山田'"_s),
                 (QStringList{u"2009/12/24"_s, u"2"_s, u"2"_s, u"1"_s, u"2010/01/15"_s, u"3"_s, u"2"_s, u"2"_s}));
    }

    // 確認 of row 2 and 予約登録 make the same check and put the cursor on the second month; a refused
    // pair writes nothing.
    void secondDoseMustComeAfterTheFirst_data()
    {
        QTest::addColumn<QString>("pair"); // the first slot, then the second
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("refused");
        QTest::newRow("same day, later hour, 確認") << u"2009/11/02 08 2009/11/02 17"_s << u"Command2(1)"_s << true;
        QTest::newRow("day before, 予約登録") << u"2009/11/02 10 2009/11/01 10"_s << u"Command1(0)"_s << true;
        QTest::newRow("next day, 確認") << u"2009/11/02 10 2009/11/03 10"_s << u"Command2(1)"_s << false;
        QTest::newRow("across the year end, 予約登録") << u"2009/12/31 10 2010/01/21 10"_s << u"Command1(0)"_s << false;
    }

    void secondDoseMustComeAfterTheFirst()
    {
        QFETCH(QString, pair);
        QFETCH(QString, button);
        QFETCH(bool, refused);
        Desk desk;
        desk.enterName(u"山田"_s);
        desk.typeRow(1, pair.left(13));
        desk.press(u"Option3(1)"_s);
        desk.typeRow(2, pair.mid(14));
        desk.press(button);
        QCOMPARE(desk.told(), refused ? QStringList{secondBeforeFirst} : QStringList());
        QCOMPARE(QApplication::focusWidget() == desk.combo(2, 1), refused);
        QCOMPARE(desk.rows(), refused || button == u"Command2(1)"_s ? 0 : 2);
    }

    // A name of row 2's list, clicked, loads. The loaded reservation counts only while the form shows
    // it (its name in 氏名, its row on its slot) and only while another desk has left it as it was:
    // 予約取消 deletes it, registering it again keeps its number and the codes of its dose; a changed
    // form cancels or books what it shows, with the 種別 shown; a row another desk cancelled or booked
    // anew meanwhile is left alone, and the receptionist told.
    void aLoadedReservationCountsWhileTheFormShowsIt_data()
    {
        QTest::addColumn<QString>("steps"); // after loading 山田, in order (see below)
        QTest::addColumn<QString>("after"); // YNO KNM SFLG SCNT TEL1 of every row
        QTest::addColumn<QString>("told");  // first line of each message, "|" between
        QTest::addColumn<QString>("notice");
        const QString untouched = u"1 佐藤 1 1  2 山田 2 2  3 田中 1 1 "_s;
        const QString yamadaGone = u"1 佐藤 1 1  3 田中 1 1 "_s;
        QTest::newRow("予約取消") << u"cancel"_s << yamadaGone << QString()
                                  << u"予約を取り消しました：山田　2009/10/30 09時"_s;
        QTest::newRow("another name typed, 予約取消 cancels it in row 1's slot")
            << u"name:田中 cancel"_s << u"1 佐藤 1 1  2 山田 2 2 "_s << QString()
            << u"予約を取り消しました：田中　2009/10/09 10時"_s;
        QTest::newRow("row 2 moved, 予約取消 looks in row 1's slot")
            << u"hour2:10 cancel"_s << untouched << u"取り消す予約が見つかりませんでした。"_s << QString();
        QTest::newRow("cancelled elsewhere, 予約取消")
            << u"other:delete cancel"_s << yamadaGone << u"予約を取り消しませんでした。"_s << QString();
        QTest::newRow("booked anew elsewhere, 予約取消")
            << u"other:rebook cancel"_s << yamadaGone + u" 4 山田 1 1 03-9999"_s << u"予約を取り消しませんでした。"_s
            << QString();
        QTest::newRow("registered again") << u"register"_s << u"1 佐藤 1 1  2 山田 2 2 03-2222 3 田中 1 1 "_s
                                          << QString() << u"予約を更新しました：山田　2009/10/30 09時（予約番号 2）"_s;
        QTest::newRow("another name registered with the 種別 shown")
            << u"name:鈴木 register"_s << untouched + u" 4 鈴木 4 2 03-2222"_s << QString()
            << u"予約を登録しました：鈴木　2009/10/30 09時（予約番号 4）"_s;
        QTest::newRow("booked anew elsewhere, registered twice")
            << u"other:rebook register register"_s << yamadaGone + u" 4 山田 4 2 03-2222"_s
            << u"予約を登録しませんでした。"_s << u"予約を更新しました：山田　2009/10/30 09時（予約番号 4）"_s;
    }

    void aLoadedReservationCountsWhileTheFormShowsIt()
    {
        QFETCH(QString, steps);
        QFETCH(QString, after);
        QFETCH(QString, told);
        QFETCH(QString, notice);
        Desk desk;
        desk.ws.addReservation(u"2009/10/30"_s, u"09"_s, u"佐藤"_s);
        desk.ws.addReservation(u"2009/10/30"_s, u"09"_s, u"山田"_s, 1, u"77"_s);
        desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, u"田中"_s);
        desk.ws.db.write(
            u"UPDATE YOYAKU SET BFLG = 4, RFLG = 1, KFLG = 2, SFLG = 2, SCNT = 2, KMNO = 'M-1' WHERE YNO = 2"_s);
        desk.press(u"Option3(1)"_s);
        desk.typeRow(2, u"2009/10/30 09"_s);
        desk.press(u"Command2(1)"_s);
        auto *list = control<QListWidget>(desk.screen.get(), u"List1"_s);
        QCOMPARE(list->count(), 2);
        clickLine(list, 1);
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Text1(8)"_s, u"Combo1(4)"_s, u"Text1(5)"_s, u"Option1(0)"_s,
                            u"Option2(1)"_s, u"Option3(3)"_s}),
                 (QStringList{u"山田"_s, u"77"_s, u"平成"_s, u"M-1"_s, u"on"_s, u"on"_s, u"on"_s}));
        QCOMPARE(desk.buttons(), u"01"_s);

        // Another reception desk on a connection of its own.
        Database other(u"other-desk"_s);
        other.DB_open(desk.ws.target());
        for (const QString &step : steps.split(u' ')) {
            const QString value = step.section(u':', 1);
            if (step == u"other:delete"_s || step == u"other:rebook"_s) {
                other.write(u"DELETE FROM YOYAKU WHERE YNO = 2"_s);
            }
            if (step == u"other:rebook"_s) {
                other.write(u"INSERT INTO YOYAKU (YNO, KNM, KKNM, YDATE, YTIME, SFLG, SCNT, CFLG, Category, TEL1) "
                            "VALUES (4, '山田', '', '2009/10/30', '09', 1, 1, 0, 0, '03-9999')"_s);
            } else if (step.startsWith(u"name:"_s)) {
                typeInto(desk.box(0), value);
            } else if (step.startsWith(u"hour2:"_s)) {
                typeInto(desk.combo(2, 3), value);
            } else if (step == u"cancel"_s) {
                desk.press(u"Command1(1)"_s);
            } else if (step == u"register"_s) {
                typeInto(desk.box(3), u"03-2222"_s);
                desk.typeRow(1, u"2009/10/30 09"_s);
                desk.press(u"Command2(0)"_s);
                desk.press(u"Command1(0)"_s);
            }
        }
        QCOMPARE(stored(desk.ws.db, u"YNO, KNM, SFLG, SCNT, TEL1"_s).join(u' '), after);
        QStringList firstLines;
        for (const QString &text : desk.told()) {
            firstLines << text.section(u"\r\n"_s, 0, 0);
        }
        QCOMPARE(firstLines.join(u'|'), told);
        QCOMPARE(desk.ws.state->notices.last(), notice);
        // Done or refused, a cancel leaves an empty form; a refused registration keeps what was typed.
        const bool refusedRegistration = told.startsWith(u"予約を登録"_s) && notice.isEmpty();
        QCOMPARE(desk.box(0)->text().isEmpty(), !refusedRegistration);
    }

    // Tab into List1 makes its first line current and loads nothing; Return and Space load the current
    // line, and so does every key that moves to a line, also when there is only one.
    void theNameListLoadsFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("Tab in") << u"佐藤"_s << QString() << QString();
        QTest::newRow("one name, Down") << u"佐藤"_s << u"Down"_s << u"佐藤"_s;
        QTest::newRow("one name, Home") << u"佐藤"_s << u"Home"_s << u"佐藤"_s;
        QTest::newRow("one name, Return") << u"佐藤"_s << u"Return"_s << u"佐藤"_s;
        QTest::newRow("one name, Space") << u"佐藤"_s << u"Space"_s << u"佐藤"_s;
        QTest::newRow("two names, Return") << u"佐藤 山田"_s << u"Return"_s << u"佐藤"_s;
        QTest::newRow("two names, Down") << u"佐藤 山田"_s << u"Down"_s << u"山田"_s;
        QTest::newRow("two names, End, Up") << u"佐藤 山田"_s << u"End Up"_s << u"佐藤"_s;
    }

    void theNameListLoadsFromTheKeyboard()
    {
        QFETCH(QString, names);
        QFETCH(QString, keys);
        QFETCH(QString, loaded);
        Desk desk(3, QDateTime(QDate(2009, 10, 9), QTime(10, 30)), false, names.split(u' '));
        auto *list = control<QListWidget>(desk.screen.get(), u"List1"_s);
        // 予約登録 and 予約取消 are not enabled yet: Tab goes from 確認 straight to the list.
        control(desk.screen.get(), u"Command2(0)"_s)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), list);
        QCOMPARE(list->currentRow(), 0);
        const QMap<QString, Qt::Key> keyNamed = {{u"Down"_s, Qt::Key_Down},     {u"Up"_s, Qt::Key_Up},
                                                 {u"Home"_s, Qt::Key_Home},     {u"End"_s, Qt::Key_End},
                                                 {u"Return"_s, Qt::Key_Return}, {u"Space"_s, Qt::Key_Space}};
        for (const QString &key : keys.split(u' ', Qt::SkipEmptyParts)) {
            QTest::keyClick(list, keyNamed.value(key));
        }
        QCOMPARE(desk.box(0)->text(), loaded);
        QCOMPARE(desk.buttons(), loaded.isEmpty() ? u"00"_s : u"01"_s);
        QCOMPARE(QApplication::focusWidget(), list);
    }

    // What the input method converts is read back as the readings, each reading once, and appended on
    // leaving the name box; a message box taking the focus for a moment is no leaving of it.
    void leavingTheNameAppendsItsReadings_data()
    {
        QTest::addColumn<QString>("events"); // what each event commits|what it leaves in conversion
        QTest::addColumn<QString>("shown");  // name, readings
        QTest::newRow("two conversions") << u"|やまだ |山田 山田| |はなこ |花子 花子|"_s << u"山田花子 ｶﾅﾔﾏﾀﾞﾊﾅｺ"_s;
        QTest::newRow("kana committed as typed") << u"|たろう たろう|"_s << u"たろう ｶﾅﾀﾛｳ"_s;
        QTest::newRow("commit starts the next conversion")
            << u"|さとう |佐藤 佐藤|じろう |次郎 次郎|"_s << u"佐藤次郎 ｶﾅｻﾄｳｼﾞﾛｳ"_s;
        QTest::newRow("reading used once") << u"|やまだ 山田| ABC|"_s << u"山田ABC ｶﾅﾔﾏﾀﾞ"_s;
        QTest::newRow("nothing committed") << u"|やまだ |"_s << u" ｶﾅ"_s;
    }

    void leavingTheNameAppendsItsReadings()
    {
        QFETCH(QString, events);
        QFETCH(QString, shown);
        Desk desk;
        QLineEdit *name = desk.box(0);
        typeInto(desk.box(1), u"ｶﾅ"_s);
        name->setFocus(Qt::BacktabFocusReason);
        for (const QString &e : events.split(u' ')) {
            QInputMethodEvent event(e.section(u'|', 1), {});
            event.setCommitString(e.section(u'|', 0, 0));
            QApplication::sendEvent(name, &event);
        }
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(name, &away);
        QCOMPARE(desk.box(1)->text(), u"ｶﾅ"_s);
        QTest::keyClick(name, Qt::Key_Tab);
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Text1(1)"_s}).join(u' '), shown);
    }

    // Leaving the birth date rewrites eight digits as a western date (the era picker turning to 西暦)
    // and six as a date of the era picked (digits typed with the input method on are digits), and shows
    // the years completed on the clock's day; anything else stays as typed, and what is no date of the
    // past, or no date of its era, shows no age.
    void leavingTheBirthDateShowsTheAge_data()
    {
        QTest::addColumn<QString>("typed"); // era, birth date, today
        QTest::addColumn<QString>("shown"); // era, birth date, age
        QTest::newRow("令和") << u"令和 010801 2020-12-01"_s << u"令和 01年08月01日 1才"_s;
        QTest::newRow("平成's last day") << u"平成 310430 2020-12-01"_s << u"平成 31年04月30日 1才"_s;
        QTest::newRow("平成 after its last day") << u"平成 310501 2020-12-01"_s << u"平成 31年05月01日 "_s;
        QTest::newRow("令和 before its first day") << u"令和 010430 2020-12-01"_s << u"令和 01年04月30日 "_s;
        QTest::newRow("day before the birthday") << u"西暦 19791215 2009-12-14"_s << u"西暦 1979年12月15日 29才"_s;
        QTest::newRow("on the birthday") << u"西暦 19791215 2009-12-15"_s << u"西暦 1979年12月15日 30才"_s;
        QTest::newRow("eight digits under 平成") << u"平成 19791215 2009-12-15"_s << u"西暦 1979年12月15日 30才"_s;
        QTest::newRow("full-width, under 昭和")
            << u"昭和 ２００２０１０１ 2009-12-01"_s << u"西暦 2002年01月01日 7才"_s;
        QTest::newRow("full-width six to nine") << u"西暦 １９６７０８２９ 2009-12-01"_s << u"西暦 1967年08月29日 42才"_s;
        QTest::newRow("full-width three to five, era") << u"昭和 ５４０３０５ 2009-12-01"_s << u"昭和 54年03月05日 30才"_s;
        QTest::newRow("平成's first day") << u"平成 010108 2009-12-01"_s << u"平成 01年01月08日 20才"_s;
        QTest::newRow("month 13") << u"西暦 20021301 2009-12-01"_s << u"西暦 2002年13月01日 "_s;
        QTest::newRow("six digits, western era") << u"西暦 190101 2009-12-01"_s << u"西暦 19年01月01日 "_s;
        QTest::newRow("born after today") << u"西暦 20100101 2009-12-01"_s << u"西暦 2010年01月01日 "_s;
        QTest::newRow("seven digits") << u"平成 2002010 2009-12-01"_s << u"平成 2002010 "_s;
        QTest::newRow("already rewritten") << u"西暦 2002年01月01日 2009-12-01"_s << u"西暦 2002年01月01日 "_s;
    }

    void leavingTheBirthDateShowsTheAge()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        const QStringList in = typed.split(u' ');
        Desk desk(3, QDateTime(QDate::fromString(in[2], Qt::ISODate), QTime(10, 0)));
        typeInto(desk.combo(1, 4), in[0]);
        typeInto(desk.box(2), in[1]);
        QCOMPARE(desk.show({u"Combo1(4)"_s, u"Text1(2)"_s, u"Label6"_s}).join(u' '), shown);
    }

    // A closure from setting.ini is named beside the slot and on the grid, as written there and not as
    // markup; the legend explains the closed days' colour.
    void closedDaysAreNamedAsWritten()
    {
        Desk desk(3, QDateTime(QDate(2009, 10, 13), QTime(10, 30)));
        QVERIFY(writeFileBytes(desk.ws.folder() + u"/setting.ini"_s,
                               encodeCp932(u"[CLOSED]\r\n<b>工事</b>=2009/10/20\r\n"_s).bytes));
        desk.ws.state->config.CLOSED = ClosedDays::read(desk.ws.folder());
        desk.screen = std::make_unique<EntryScreen>(*desk.ws.state);
        showActive(desk.screen.get());
        const QString note = u"休診日（<b>工事</b>）"_s;
        typeInto(desk.combo(1, 2), u"20"_s);
        auto *beside = control<QLabel>(desk.screen.get(), u"ClosedNote1"_s);
        QCOMPARE(beside->text(), note);
        QCOMPARE(beside->textFormat(), Qt::PlainText);
        // The grid lists the 13th to the end of the month.
        auto *grid = control<QTreeWidget>(desk.screen.get(), u"ListView1"_s);
        const QString tip = grid->topLevelItem(7)->toolTip(3);
        QTextDocument shown;
        shown.setHtml(tip);
        QCOMPARE(Qt::mightBeRichText(tip) ? shown.toPlainText() : tip, note);

        // Left of its caption, the legend shows the colour of a closed day.
        QLabel *caption = nullptr;
        for (QLabel *label : grid->parentWidget()->findChildren<QLabel *>()) {
            caption = label->text() == u"休診日"_s ? label : caption;
        }
        QVERIFY(caption != nullptr);
        const QImage seen = grid->parentWidget()->grab().toImage();
        bool swatch = false;
        for (int x = caption->x() - 1; x > caption->x() - 40 && x >= 0; --x) {
            swatch = swatch || seen.pixelColor(x, caption->geometry().center().y()) == ClosedDayGround;
        }
        QVERIFY(swatch);
    }

    // Opened while the database is away, the form is whole; what was typed stays when registering fails,
    // and registers once the database is back.
    void aDatabaseThatIsAwayKeepsTheForm()
    {
        Desk desk(3, QDateTime(QDate(2009, 10, 9), QTime(10, 30)), true);
        QCOMPARE(desk.show({u"Combo1(0)"_s, u"Combo1(1)"_s, u"Combo1(2)"_s, u"Combo1(3)"_s, u"Combo1(4)"_s}),
                 (QStringList{u"2009"_s, u"10"_s, u"09"_s, u"10"_s, u"西暦"_s}));
        desk.enterName(u"佐藤"_s);
        typeInto(desk.box(3), u"03-1234"_s);
        desk.press(u"Command1(0)"_s);
        QCOMPARE(desk.told().size(), 2);
        QVERIFY(desk.told().at(0).startsWith(u"予約状況を読み込めませんでした。"_s));
        QVERIFY(desk.told().at(1).startsWith(u"予約を登録できませんでした。"_s));
        QCOMPARE(desk.show({u"Text1(0)"_s, u"Text1(3)"_s}), (QStringList{u"佐藤"_s, u"03-1234"_s}));
        desk.ws.db.DB_open(desk.ws.target());
        desk.press(u"Command1(0)"_s);
        QCOMPARE(stored(desk.ws.db, u"KNM, YDATE, YTIME, TEL1, BFLG"_s),
                 (QStringList{u"佐藤"_s, u"2009/10/09"_s, u"10"_s, u"03-1234"_s, u"0"_s}));
    }

    // The server's answer to the booking's COMMIT is lost on its way back: the clerk reads first that
    // it is not known whether the booking was made (it was), never that it was not.
    void aLostAnswerIsToldAsNotKnown()
    {
        if (!test::testServer()) {
            QSKIP("an answer lost on the way back from a database server");
        }
        Desk desk;
        test::PgProxy relay(*desk.ws.target().postgres);
        desk.ws.db.DB_open(DbTarget::server(relay.server()));
        desk.enterName(u"佐藤"_s);
        relay.loseNextCommitAnswer();
        desk.press(u"Command1(0)"_s);
        QVERIFY(relay.lostOne());
        QVERIFY2(desk.told().last().startsWith(u"予約が登録されたかどうか分かりません。"_s), qPrintable(desk.told().last()));
        QCOMPARE(desk.rows(), 1);
    }
};

QTEST_MAIN(TestEntryScreen)
#include "tst_entryscreen.moc"
