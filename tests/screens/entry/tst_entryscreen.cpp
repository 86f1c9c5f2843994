#include "support/Workspace.h"

#include "db/Booking.h"
#include "screens/entry/EntryRules.h"
#include "screens/entry/EntryScreen.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;
using namespace qrb;

namespace {

// One entry screen on a clinic of its own, with helpers to reach its controls by name.
struct Desk {
    explicit Desk(int places = 3, QDateTime at = QDateTime(QDate(2009, 10, 9), QTime(10, 30)))
        : ws(places)
    {
        ws.clock.at = at;
        screen = std::make_unique<EntryScreen>(*ws.state);
    }

    template <typename T = QWidget> T *find(const QString &name) const
    {
        T *widget = screen->findChild<T *>(name);
        return widget != nullptr ? widget : (qFatal("no control %s", qPrintable(name)), nullptr);
    }
    QLineEdit *box(int index) const { return find<QLineEdit>(u"Text1(%1)"_s.arg(index)); }
    QComboBox *combo(int row, int index) const { return find<QComboBox>(u"Combo%1(%2)"_s.arg(row).arg(index)); }
    QPushButton *command(int index) const { return find<QPushButton>(u"Command1(%1)"_s.arg(index)); }
    QRadioButton *option(int array, int index) const
    {
        return find<QRadioButton>(u"Option%1(%2)"_s.arg(array).arg(index));
    }
    QString label(const QString &name) const { return find<QLabel>(name)->text(); }
    // What the named controls show: a box, picker or label its text, an option "on" or "off".
    QStringList shows(const QStringList &names) const
    {
        QStringList out;
        for (const QString &name : names) {
            QWidget *w = find(name);
            if (auto *option = qobject_cast<QRadioButton *>(w)) {
                out << (option->isChecked() ? u"on"_s : u"off"_s);
            } else {
                out << w->property(qobject_cast<QComboBox *>(w) ? "currentText" : "text").toString();
            }
        }
        return out;
    }
    // "10" = 予約登録 enabled, 予約取消 disabled.
    QString buttons() const { return u"%1%2"_s.arg(int(command(0)->isEnabled())).arg(int(command(1)->isEnabled())); }
    // A slot typed as "YYYY/MM/DD HH" into the four pickers of a row.
    void setRow(int row, const QString &slot) const
    {
        const QStringList parts = slot.split(QRegularExpression(u"[/ ]"_s));
        for (int i = 0; i < 4; ++i) {
            combo(row, i)->setCurrentText(parts[i]);
        }
    }
    static void focus(QWidget *widget, QEvent::Type type, Qt::FocusReason reason = Qt::TabFocusReason)
    {
        QFocusEvent event(type, reason);
        QApplication::sendEvent(widget, &event);
    }
    // The stored columns of the matching reservations, row after row, in the order of their numbers.
    QStringList stored(const QString &columns, const QString &where = u"1 = 1"_s) const
    {
        QStringList out;
        ws.db.forEachRow(u"SELECT %1 FROM YOYAKU WHERE %2 ORDER BY YNO"_s.arg(columns, where), {},
                         [&](const QSqlQuery &q) {
                             for (int i = 0; i < q.record().count(); ++i) {
                                 out << q.value(i).toString();
                             }
                         });
        return out;
    }
    int rows(const QString &where = u"1 = 1"_s) const { return stored(u"YNO"_s, where).size(); }

    mutable test::Workspace ws;
    std::unique_ptr<EntryScreen> screen;
};

const QString overbooking = u"予約可能人数を超えました。\r\nＯＫを押すと強制入力します。"_s;

} // namespace

class TestEntryScreen : public QObject
{
    Q_OBJECT

private slots:
    void openingShowsTodayTheClampedSlotAndTheRestOfTheMonth_data()
    {
        QTest::addColumn<QDateTime>("at");
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("weekday");
        QTest::addColumn<int>("days");
        QTest::newRow("before opening, last of February")
            << QDateTime(QDate(2009, 2, 28), QTime(6, 30)) << u"08"_s << u"(土)"_s << 1;
        QTest::newRow("after closing") << QDateTime(QDate(2009, 10, 9), QTime(20, 10)) << u"17"_s << u"(金)"_s << 23;
        QTest::newRow("within a slot, all of December")
            << QDateTime(QDate(2009, 12, 1), QTime(11, 59)) << u"11"_s << u"(火)"_s << 31;
    }

    void openingShowsTodayTheClampedSlotAndTheRestOfTheMonth()
    {
        QFETCH(QDateTime, at);
        QFETCH(QString, hour);
        QFETCH(QString, weekday);
        QFETCH(int, days);
        Desk desk(3, at);
        desk.screen->show(); // showing lays out and resizes every control before the first use
        QCOMPARE(desk.screen->objectName(), u"frmYoyaku"_s);
        QCOMPARE(desk.screen->windowTitle(), u"予約管理"_s);
        QCOMPARE(desk.shows({u"Combo1(0)"_s, u"Combo1(3)"_s, u"Label3(2)"_s, u"Label3(0)"_s, u"Combo1(4)"_s}),
                 (QStringList{QString::number(at.date().year()), hour, weekday, slotLine(0, 3), u"西暦"_s}));
        QCOMPARE(desk.buttons(), u"00"_s);
        QVERIFY(desk.combo(2, 0)->isHidden());
        auto *grid = desk.find<QTreeWidget>(u"ListView1"_s);
        QCOMPARE(grid->columnCount(), 12);
        QCOMPARE(grid->headerItem()->text(1), u"08:00～"_s);
        QCOMPARE(grid->headerItem()->text(10), u"17:00～"_s);
        QVERIFY(grid->isColumnHidden(11));
        QCOMPARE(grid->topLevelItemCount(), days);
        const QString first = u"%1日 %2"_s.arg(at.date().day(), 2, 10, QChar(u'0')).arg(weekday.mid(1, 1));
        QCOMPARE(grid->topLevelItem(0)->text(0), first);
        QCOMPARE(grid->topLevelItem(0)->text(11), first);
    }

    void leavingAPickerFollowsTheMonth_data()
    {
        QTest::addColumn<QString>("month");
        QTest::addColumn<QStringList>("shown"); // day, weekday
        QTest::newRow("31 into April") << u"04"_s << QStringList{u"30"_s, u"(木)"_s};
        QTest::newRow("31 into February 2009") << u"02"_s << QStringList{u"28"_s, u"(土)"_s};
        QTest::newRow("31 into December") << u"12"_s << QStringList{u"31"_s, u"(木)"_s};
    }

    void leavingAPickerFollowsTheMonth()
    {
        QFETCH(QString, month);
        QFETCH(QStringList, shown);
        Desk desk;
        desk.setRow(1, u"2009/01/31 10"_s);
        desk.combo(1, 1)->setCurrentText(month);
        Desk::focus(desk.combo(1, 1), QEvent::FocusOut);
        QCOMPARE(desk.shows({u"Combo1(2)"_s, u"Label3(2)"_s}), shown);
    }

    void overbookingAsksFirst_data()
    {
        QTest::addColumn<int>("places");
        QTest::addColumn<int>("booked");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::newRow("room left") << 5 << 4 << true << false;
        QTest::newRow("full, OK") << 5 << 5 << true << true;
        QTest::newRow("full, Cancel") << 5 << 5 << false << true;
        QTest::newRow("closed slot, OK") << 0 << 0 << true << true;
        QTest::newRow("closed slot, Cancel") << 0 << 0 << false << true;
    }

    void overbookingAsksFirst()
    {
        QFETCH(int, places);
        QFETCH(int, booked);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        Desk desk(places);
        for (int i = 0; i < booked; ++i) {
            desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, u"患者%1"_s.arg(i));
        }
        desk.ws.dialogs.answers = {answer};
        desk.box(0)->setText(u"山田"_s);
        desk.command(0)->setEnabled(true);
        QTest::mouseClick(desk.command(0), Qt::LeftButton);
        QCOMPARE(desk.ws.dialogs.messages.size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(desk.ws.dialogs.messages[0].text, overbooking);
            QVERIFY(desk.ws.dialogs.messages[0].title.isEmpty());
            QVERIFY(desk.ws.dialogs.messages[0].question);
        }
        const bool written = answer || !asked;
        QCOMPARE(desk.rows(), booked + int(written));
        if (!written) { // the typed fields stay for another try
            QCOMPARE(desk.box(0)->text(), u"山田"_s);
            return;
        }
        QCOMPARE(desk.shows({u"Text1(0)"_s, u"Label3(0)"_s}), (QStringList{QString(), slotLine(booked + 1, places)}));
        QCOMPARE(desk.find<QListWidget>(u"List1"_s)->count(), booked + 1);
    }

    void registeringWritesTheFormAndOverwritesTheSameName()
    {
        Desk desk;
        desk.box(8)->setText(u"123"_s);
        desk.box(0)->setText(u"O'Brien"_s);
        desk.box(1)->setText(u"ｵﾌﾞﾗｲｴﾝ"_s);
        desk.combo(1, 4)->setCurrentText(u"令和"_s);
        desk.box(2)->setText(u"01年05月01日"_s);
        desk.option(1, 1)->setChecked(true);
        desk.option(2, 0)->setChecked(true);
        desk.option(3, 3)->setChecked(true);
        desk.find<QPlainTextEdit>(u"Text1(6)"_s)->setPlainText(u"1行目\n2行目"_s);
        desk.screen->Command1_Click(0);
        const QString columns = u"YNO, KNO, KKNM, BFLG, RFLG, KFLG, SFLG, SCNT, BIKO, CFLG"_s;
        const QString slot = u"YDATE = '2009/10/09' AND YTIME = '10' AND KNM = 'O''Brien'"_s;
        QCOMPARE(desk.stored(columns, slot),
                 (QStringList{u"1"_s, u"123"_s, u"ｵﾌﾞﾗｲｴﾝ"_s, u"5"_s, u"2"_s, u"1"_s, u"4"_s, u"2"_s, u"1行目\n2行目"_s, u"0"_s}));
        QVERIFY(!desk.option(3, 3)->isChecked()); // options cleared after registering

        desk.ws.db.write(u"UPDATE YOYAKU SET CFLG = 1"_s);
        desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, u"佐藤"_s);
        desk.box(0)->setText(u"O'Brien"_s);
        desk.combo(1, 4)->setCurrentText(QString());
        desk.screen->Command1_Click(0);
        QCOMPARE(desk.rows(), 2);
        // Same number, not yet come again; no era chosen leaves the stored one.
        QCOMPARE(desk.stored(u"YNO, CFLG, BFLG, SFLG"_s, slot), (QStringList{u"1"_s, u"0"_s, u"5"_s, u"0"_s}));
        QCOMPARE(desk.label(u"Label3(0)"_s), slotLine(2, 3));
    }

    // A full second slot asks again under its own title; Cancel there keeps the first dose and the form.
    void newTypeBooksBothDosesAndCancelAtTheSecondWarningKeepsTheFirst()
    {
        Desk desk(1);
        desk.ws.addReservation(u"2010/01/14"_s, u"10"_s, u"先客"_s);
        desk.setRow(1, u"2009/12/24 10"_s);
        desk.box(0)->setText(u"山田"_s);
        desk.option(3, 1)->click();
        QVERIFY(!desk.combo(2, 0)->isHidden());
        // Three weeks later, across the year end.
        QCOMPARE(desk.shows({u"Combo2(0)"_s, u"Combo2(1)"_s, u"Combo2(2)"_s, u"Combo2(3)"_s, u"Label4(2)"_s,
                             u"Label4(0)"_s}),
                 (QStringList{u"2010"_s, u"01"_s, u"14"_s, u"10"_s, u"(木)"_s, slotLine(1, 1)}));

        desk.ws.dialogs.answers = {false};
        desk.screen->Command1_Click(0);
        QCOMPARE(desk.ws.dialogs.messages.size(), 1);
        QCOMPARE(desk.ws.dialogs.messages[0].text, overbooking);
        QCOMPARE(desk.ws.dialogs.messages[0].title, u"2回目の摂取"_s);
        const QString columns = u"YDATE, YNO, SFLG, SCNT"_s;
        QCOMPARE(desk.stored(columns, u"KNM = '山田'"_s), (QStringList{u"2009/12/24"_s, u"2"_s, u"2"_s, u"1"_s}));
        QCOMPARE(desk.shows({u"Text1(0)"_s, u"Option3(1)"_s}), (QStringList{u"山田"_s, u"on"_s}));

        // Trying again with another second slot completes the pair without a duplicate.
        desk.combo(2, 2)->setCurrentText(u"15"_s);
        desk.screen->Command1_Click(0);
        QCOMPARE(desk.stored(columns, u"KNM = '山田'"_s), (QStringList{u"2009/12/24"_s, u"2"_s, u"2"_s, u"1"_s,
                                                                      u"2010/01/15"_s, u"3"_s, u"2"_s, u"2"_s}));
        QVERIFY(desk.combo(2, 0)->isHidden());
        QCOMPARE(desk.box(0)->text(), QString());
    }

    void aSlotThatIsNoDateIsRefused_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("picker");
        QTest::addColumn<QString>("typed");
        QTest::newRow("year not a number") << 1 << 0 << u"20x6"_s;
        QTest::newRow("month 13") << 1 << 1 << u"13"_s;
        QTest::newRow("31 April typed") << 1 << 2 << u"31"_s;
        QTest::newRow("hour outside the slots") << 1 << 3 << u"25"_s;
        QTest::newRow("second dose no date") << 2 << 0 << u"x"_s;
    }

    void aSlotThatIsNoDateIsRefused()
    {
        QFETCH(int, row);
        QFETCH(int, picker);
        QFETCH(QString, typed);
        Desk desk;
        desk.setRow(1, u"2009/04/30 10"_s);
        desk.box(0)->setText(u"山田"_s);
        if (row == 2) {
            desk.option(3, 1)->click();
        }
        desk.combo(row, picker)->setCurrentText(typed);
        if (picker != 2) { // leaving a day picker would put the day back into the month
            Desk::focus(desk.combo(row, picker), QEvent::FocusOut);
        }
        const QString weekday = desk.label(u"Label3(2)"_s);
        desk.ws.dialogs.clear();
        desk.screen->Command1_Click(0);
        desk.screen->Command2_Click(row - 1);
        QCOMPARE(desk.ws.dialogs.messages.size(), 2);
        QVERIFY(desk.ws.dialogs.messages[0].text.startsWith(u"日付が正しくありません。"_s));
        QCOMPARE(desk.rows(), 0);
        QCOMPARE(desk.shows({u"Text1(0)"_s, u"Label3(2)"_s}), (QStringList{u"山田"_s, weekday}));
    }

    void secondDoseMustComeAfterTheFirst_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("refused");
        QTest::newRow("same day, later hour") << u"2009/11/02 08"_s << u"2009/11/02 17"_s << true;
        QTest::newRow("day before") << u"2009/11/02 10"_s << u"2009/11/01 10"_s << true;
        QTest::newRow("next day") << u"2009/11/02 10"_s << u"2009/11/03 10"_s << false;
        QTest::newRow("across the year end") << u"2009/12/31 10"_s << u"2010/01/21 10"_s << false;
    }

    void secondDoseMustComeAfterTheFirst()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, refused);
        Desk desk;
        desk.ws.addReservation(second.left(10), second.right(2), u"先客"_s);
        desk.box(0)->setText(u"山田"_s);
        desk.screen->Option3_Click(1);
        desk.setRow(1, first);
        desk.setRow(2, second);
        desk.screen->Command2_Click(1);
        // The slot of row 2 is shown either way.
        QCOMPARE(desk.label(u"Label4(0)"_s), slotLine(1, 3));
        QCOMPARE(desk.find<QListWidget>(u"List1"_s)->count(), 1);
        QCOMPARE(desk.ws.dialogs.texts(),
                 refused ? QStringList{u"2回目の摂取日は1回目の摂取日より未来の日付を入力してください。"_s}
                         : QStringList());
        QCOMPARE(desk.command(0)->isEnabled(), !refused);
    }

    void checkSetsTheButtons_data()
    {
        QTest::addColumn<bool>("name");
        QTest::addColumn<bool>("booked");
        QTest::addColumn<QString>("before"); // 予約登録, 予約取消 enabled
        QTest::addColumn<QString>("after");
        QTest::newRow("name, empty slot") << true << false << u"01"_s << u"10"_s;
        QTest::newRow("name after a load") << true << true << u"01"_s << u"10"_s;
        QTest::newRow("no name, empty slot") << false << false << u"11"_s << u"10"_s;
        QTest::newRow("no name, names listed") << false << true << u"11"_s << u"11"_s;
        QTest::newRow("no name, names listed, off") << false << true << u"00"_s << u"00"_s;
    }

    void checkSetsTheButtons()
    {
        QFETCH(bool, name);
        QFETCH(bool, booked);
        QFETCH(QString, before);
        QFETCH(QString, after);
        Desk desk;
        if (booked) {
            desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, u"佐藤"_s);
        }
        desk.box(0)->setText(name ? u"山田"_s : QString());
        desk.command(0)->setEnabled(before[0] == u'1');
        desk.command(1)->setEnabled(before[1] == u'1');
        QTest::mouseClick(desk.find<QPushButton>(u"Command2(0)"_s), Qt::LeftButton);
        QCOMPARE(desk.buttons(), after);
    }

    void aNameInTheListLoadsItsReservationAndCancels()
    {
        Desk desk;
        registerReservation(desk.ws.db, {.kno = u"77"_s, .knm = u"山田"_s, .kknm = u"ﾔﾏﾀﾞ"_s, .ydate = u"2009/10/30"_s,
                                         .ytime = u"09"_s, .bflg = 4, .birthday = u"19年01月01日"_s, .tel1 = {},
                                         .tel2 = {}, .rflg = 1, .kflg = 2, .biko = {}, .sflg = 2, .scnt = 2,
                                         .kmno = u"M-1"_s},
                            WhenFull::Overbook);
        desk.setRow(2, u"2009/10/30 09"_s);
        desk.screen->Command2_Click(1);
        auto *list = desk.find<QListWidget>(u"List1"_s);
        QCOMPARE(list->count(), 1);
        desk.screen->List1_Click(list->item(0)->text());
        QCOMPARE(desk.shows({u"Text1(8)"_s, u"Text1(1)"_s, u"Combo1(4)"_s, u"Text1(5)"_s, u"Option1(0)"_s,
                             u"Option2(1)"_s, u"Option3(3)"_s}),
                 (QStringList{u"77"_s, u"ﾔﾏﾀﾞ"_s, u"平成"_s, u"M-1"_s, u"on"_s, u"on"_s, u"on"_s}));
        QVERIFY(desk.combo(2, 0)->isHidden()); // loading selects the type but opens no second row
        QCOMPARE(desk.buttons(), u"01"_s);
        // The next click on a type reacts as usual.
        desk.option(3, 1)->click();
        QVERIFY(!desk.combo(2, 0)->isHidden());

        // Cancelling works on row 1's slot.
        desk.setRow(1, u"2009/10/30 09"_s);
        desk.screen->Command1_Click(1);
        QCOMPARE(desk.rows(), 0);
        QCOMPARE(desk.shows({u"Text1(0)"_s, u"Label3(0)"_s}), (QStringList{QString(), slotLine(0, 3)}));
    }

    // Leaving the number looks the patient up; click into the name starts a new entry, Tab keeps it.
    void fieldsReactToHowTheyAreEntered()
    {
        Desk desk;
        desk.ws.addReservation(u"2009/10/01"_s, u"10"_s, u"山田一郎"_s, 1, u"123"_s);
        desk.ws.addReservation(u"2009/10/02"_s, u"10"_s, u"山田太郎"_s, 1, u"123"_s); // the newest counts
        desk.ws.addReservation(u"2009/10/03"_s, u"10"_s, u"番号なし"_s, 1, QString());
        desk.box(8)->setText(u"123"_s);
        Desk::focus(desk.box(8), QEvent::FocusOut);
        QCOMPARE(desk.shows({u"Text1(0)"_s, u"Option1(0)"_s}), (QStringList{u"山田太郎"_s, u"on"_s}));
        QCOMPARE(desk.buttons(), u"10"_s);
        desk.screen->input_clear();
        Desk::focus(desk.box(8), QEvent::FocusOut);
        QCOMPARE(desk.box(0)->text(), QString()); // an empty number looks nothing up
        desk.box(8)->setText(u"999"_s);
        Desk::focus(desk.box(8), QEvent::FocusOut);
        QCOMPARE(desk.box(0)->text(), QString());
        QVERIFY(desk.ws.dialogs.messages.isEmpty());

        desk.command(0)->setEnabled(false);
        desk.box(1)->setText(u"ﾔﾏﾀﾞ"_s);
        desk.option(3, 0)->setChecked(true);
        Desk::focus(desk.box(0), QEvent::FocusIn, Qt::TabFocusReason);
        QCOMPARE(desk.box(1)->text(), u"ﾔﾏﾀﾞ"_s);
        Desk::focus(desk.box(0), QEvent::FocusOut);
        Desk::focus(desk.box(0), QEvent::FocusIn, Qt::MouseFocusReason);
        QCOMPARE(desk.shows({u"Text1(1)"_s, u"Option3(0)"_s}), (QStringList{QString(), u"off"_s}));
        QCOMPARE(desk.buttons(), u"10"_s);
    }

    void leavingTheNameAppendsItsReadings()
    {
        Desk desk;
        QLineEdit *name = desk.box(0);
        const auto type = [&](const QString &reading, const QString &word) {
            QInputMethodEvent first(reading, {});
            QApplication::sendEvent(name, &first);
            QInputMethodEvent converted(word, {});
            QApplication::sendEvent(name, &converted);
            QInputMethodEvent committed;
            committed.setCommitString(word);
            QApplication::sendEvent(name, &committed);
        };
        desk.box(1)->setText(u"ｶﾅ"_s);
        Desk::focus(name, QEvent::FocusIn);
        type(u"やまだ"_s, u"山田"_s);
        type(u"はなこ"_s, u"花子"_s);
        // A message box taking the focus for a moment is no leaving of the box.
        Desk::focus(name, QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QCOMPARE(desk.box(1)->text(), u"ｶﾅ"_s);
        Desk::focus(name, QEvent::FocusOut);
        QCOMPARE(desk.shows({u"Text1(0)"_s, u"Text1(1)"_s}), (QStringList{u"山田花子"_s, u"ｶﾅﾔﾏﾀﾞﾊﾅｺ"_s}));
        Desk::focus(name, QEvent::FocusIn);
        type(u"じろう"_s, u"次郎"_s);
        Desk::focus(name, QEvent::FocusOut);
        QCOMPARE(desk.box(1)->text(), u"ｶﾅﾔﾏﾀﾞﾊﾅｺｼﾞﾛｳ"_s);
    }

    // The era comes from its picker and the age from the clock; a birth date that is no date shows no age.
    void leavingTheBirthDateShowsTheAge()
    {
        Desk desk(3, QDateTime(QDate(2020, 12, 1), QTime(10, 0)));
        desk.combo(1, 4)->setCurrentText(u"令和"_s);
        desk.box(2)->setText(u"010801"_s);
        Desk::focus(desk.box(2), QEvent::FocusOut);
        QCOMPARE(desk.shows({u"Text1(2)"_s, u"Label6"_s}), (QStringList{u"01年08月01日"_s, u"1才"_s}));
        desk.combo(1, 4)->setCurrentText(u"西暦"_s);
        desk.box(2)->setText(u"20021301"_s);
        Desk::focus(desk.box(2), QEvent::FocusOut);
        QCOMPARE(desk.shows({u"Text1(2)"_s, u"Label6"_s}), (QStringList{u"2002年13月01日"_s, QString()}));
    }

    void aDatabaseThatWentAwayKeepsTheForm()
    {
        Desk desk;
        desk.box(0)->setText(u"山田"_s);
        desk.box(3)->setText(u"03-1234"_s);
        desk.ws.db.DB_close();
        desk.screen->Command1_Click(0);
        desk.screen->Command1_Click(1);
        QCOMPARE(desk.ws.dialogs.messages.size(), 2);
        QVERIFY(desk.ws.dialogs.messages[0].text.startsWith(u"予約を登録できませんでした。"_s));
        QVERIFY(desk.ws.dialogs.messages[1].text.startsWith(u"予約を取り消せませんでした。"_s));
        QCOMPARE(desk.shows({u"Text1(0)"_s, u"Text1(3)"_s}), (QStringList{u"山田"_s, u"03-1234"_s}));
    }
};

QTEST_MAIN(TestEntryScreen)
#include "tst_entryscreen.moc"
