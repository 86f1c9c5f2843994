#include "support/Workspace.h"

#include "db/Booking.h"
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
        if (widget == nullptr) {
            qFatal("no control %s", qPrintable(name));
        }
        return widget;
    }
    QLineEdit *box(int index) const { return find<QLineEdit>(u"Text1(%1)"_s.arg(index)); }
    QComboBox *combo(int row, int index) const { return find<QComboBox>(u"Combo%1(%2)"_s.arg(row).arg(index)); }
    QPushButton *command(int array, int index) const
    {
        return find<QPushButton>(u"Command%1(%2)"_s.arg(array).arg(index));
    }
    QRadioButton *option(int array, int index) const
    {
        return find<QRadioButton>(u"Option%1(%2)"_s.arg(array).arg(index));
    }
    QString label(const QString &name) const { return find<QLabel>(name)->text(); }
    void setRow(int row, const QString &year, const QString &month, const QString &day, const QString &hour) const
    {
        combo(row, 0)->setCurrentText(year);
        combo(row, 1)->setCurrentText(month);
        combo(row, 2)->setCurrentText(day);
        combo(row, 3)->setCurrentText(hour);
    }
    static void focus(QWidget *widget, QEvent::Type type, Qt::FocusReason reason = Qt::TabFocusReason)
    {
        QFocusEvent event(type, reason);
        QApplication::sendEvent(widget, &event);
    }
    int rows(const QString &where = u"1 = 1"_s) const
    {
        return ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE "_s + where).toInt();
    }

    mutable test::Workspace ws;
    std::unique_ptr<EntryScreen> screen;
};

const QString overbooking = u"予約可能人数を超えました。\r\nＯＫを押すと強制入力します。"_s;

} // namespace

class TestEntryScreen : public QObject
{
    Q_OBJECT

private slots:
    void openingShowsTodayAndTheClampedSlot_data()
    {
        QTest::addColumn<QDateTime>("at");
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("weekday");
        QTest::newRow("before opening") << QDateTime(QDate(2009, 10, 9), QTime(6, 30)) << u"08"_s << u"(金)"_s;
        QTest::newRow("after closing") << QDateTime(QDate(2009, 10, 9), QTime(20, 10)) << u"17"_s << u"(金)"_s;
        QTest::newRow("within a slot") << QDateTime(QDate(2009, 10, 11), QTime(11, 59)) << u"11"_s << u"(日)"_s;
    }

    void openingShowsTodayAndTheClampedSlot()
    {
        QFETCH(QDateTime, at);
        QFETCH(QString, hour);
        QFETCH(QString, weekday);
        Desk desk(3, at);
        desk.screen->show(); // showing lays out and resizes every control before the first use
        QCOMPARE(desk.screen->objectName(), u"frmYoyaku"_s);
        QCOMPARE(desk.screen->windowTitle(), u"予約管理"_s);
        QCOMPARE(desk.combo(1, 3)->currentText(), hour);
        QCOMPARE(desk.label(u"Label3(2)"_s), weekday);
        QCOMPARE(desk.combo(1, 0)->currentText(), QString::number(at.date().year()));
        QCOMPARE(desk.label(u"Label3(0)"_s), u"現在の予約人数：0人    予約可能人数：あと3人"_s);
        QCOMPARE(desk.combo(1, 4)->currentText(), u"西暦"_s);
        QVERIFY(!desk.command(1, 0)->isEnabled());
        QVERIFY(!desk.command(1, 1)->isEnabled());
        QVERIFY(desk.combo(2, 0)->isHidden());
    }

    void gridListsTheRestOfTheMonth()
    {
        Desk desk(3, QDateTime(QDate(2009, 2, 28), QTime(9, 0)));
        auto *grid = desk.find<QTreeWidget>(u"ListView1"_s);
        QCOMPARE(grid->columnCount(), 12);
        QCOMPARE(grid->headerItem()->text(1), u"08:00～"_s);
        QCOMPARE(grid->headerItem()->text(10), u"17:00～"_s);
        QVERIFY(grid->isColumnHidden(11));
        QCOMPARE(grid->topLevelItemCount(), 1);
        QCOMPARE(grid->topLevelItem(0)->text(0), u"28日 土"_s);
        QCOMPARE(grid->topLevelItem(0)->text(11), u"28日 土"_s);
    }

    void leavingAPickerFollowsTheMonth_data()
    {
        QTest::addColumn<QString>("month");
        QTest::addColumn<QString>("day");
        QTest::addColumn<QString>("weekday");
        QTest::newRow("31 into April") << u"04"_s << u"30"_s << u"(木)"_s;
        QTest::newRow("31 into February 2009") << u"02"_s << u"28"_s << u"(土)"_s;
        QTest::newRow("31 into December") << u"12"_s << u"31"_s << u"(木)"_s;
    }

    void leavingAPickerFollowsTheMonth()
    {
        QFETCH(QString, month);
        QFETCH(QString, day);
        QFETCH(QString, weekday);
        Desk desk;
        desk.setRow(1, u"2009"_s, u"01"_s, u"31"_s, u"10"_s);
        desk.combo(1, 1)->setCurrentText(month);
        Desk::focus(desk.combo(1, 1), QEvent::FocusOut);
        QCOMPARE(desk.combo(1, 2)->currentText(), day);
        QCOMPARE(desk.label(u"Label3(2)"_s), weekday);
    }

    void overbookingAsksFirst_data()
    {
        QTest::addColumn<int>("places");
        QTest::addColumn<int>("booked");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("line"); // empty: fields kept, nothing refreshed
        QTest::newRow("room left") << 5 << 4 << true << false << 5 << u"現在の予約人数：5人    予約可能人数：あと0人"_s;
        QTest::newRow("full, OK") << 5 << 5 << true << true << 6 << u"現在の予約人数：6人    予約可能人数：あと-1人"_s;
        QTest::newRow("full, Cancel") << 5 << 5 << false << true << 5 << QString();
        QTest::newRow("closed slot, OK") << 0 << 0 << true << true << 1
                                         << u"現在の予約人数：1人    予約可能人数：あと-1人"_s;
        QTest::newRow("closed slot, Cancel") << 0 << 0 << false << true << 0 << QString();
    }

    void overbookingAsksFirst()
    {
        QFETCH(int, places);
        QFETCH(int, booked);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(int, after);
        QFETCH(QString, line);
        Desk desk(places);
        for (int i = 0; i < booked; ++i) {
            desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, u"患者%1"_s.arg(i));
        }
        desk.ws.dialogs.answers = {answer};
        desk.box(0)->setText(u"山田"_s);
        desk.command(1, 0)->setEnabled(true);
        QTest::mouseClick(desk.command(1, 0), Qt::LeftButton);
        QCOMPARE(desk.ws.dialogs.messages.size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(desk.ws.dialogs.messages[0].text, overbooking);
            QVERIFY(desk.ws.dialogs.messages[0].title.isEmpty());
            QVERIFY(desk.ws.dialogs.messages[0].question);
        }
        QCOMPARE(desk.rows(), after);
        if (line.isEmpty()) {
            QCOMPARE(desk.box(0)->text(), u"山田"_s);
        } else {
            QCOMPARE(desk.box(0)->text(), QString());
            QCOMPARE(desk.label(u"Label3(0)"_s), line);
            QCOMPARE(desk.find<QListWidget>(u"List1"_s)->count(), after);
        }
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
        auto r = reservationInSlot(desk.ws.db, u"2009/10/09"_s, u"10"_s, u"O'Brien"_s);
        QVERIFY(r);
        QCOMPARE(r->yno, 1);
        QCOMPARE(r->kno, u"123"_s);
        QCOMPARE(r->kknm, u"ｵﾌﾞﾗｲｴﾝ"_s);
        QCOMPARE(r->bflg, 5);
        QCOMPARE(r->rflg, 2);
        QCOMPARE(r->kflg, 1);
        QCOMPARE(r->sflg, 4);
        QCOMPARE(r->scnt, 2);
        QCOMPARE(r->biko, u"1行目\n2行目"_s);
        QCOMPARE(r->cflg, 0);
        QVERIFY(!desk.option(3, 3)->isChecked()); // options cleared after registering

        desk.ws.db.write(u"UPDATE YOYAKU SET CFLG = 1"_s);
        desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, u"佐藤"_s);
        desk.box(0)->setText(u"O'Brien"_s);
        desk.combo(1, 4)->setCurrentText(QString());
        desk.screen->Command1_Click(0);
        r = reservationInSlot(desk.ws.db, u"2009/10/09"_s, u"10"_s, u"O'Brien"_s);
        QCOMPARE(desk.rows(), 2);
        QCOMPARE(r->yno, 1);
        QCOMPARE(r->cflg, 0);
        QCOMPARE(r->bflg, 5); // no era chosen: the stored one stays
        QCOMPARE(r->sflg, 0);
        QCOMPARE(desk.label(u"Label3(0)"_s), u"現在の予約人数：2人    予約可能人数：あと1人"_s);
    }

    void newTypeBooksBothDoses()
    {
        Desk desk;
        desk.setRow(1, u"2009"_s, u"12"_s, u"24"_s, u"10"_s);
        desk.box(0)->setText(u"山田"_s);
        desk.option(3, 1)->click();
        QVERIFY(!desk.combo(2, 0)->isHidden());
        QCOMPARE(desk.combo(2, 0)->currentText(), u"2010"_s);
        QCOMPARE(desk.combo(2, 1)->currentText(), u"01"_s);
        QCOMPARE(desk.combo(2, 2)->currentText(), u"14"_s);
        QCOMPARE(desk.combo(2, 3)->currentText(), u"10"_s);
        QCOMPARE(desk.label(u"Label4(2)"_s), u"(木)"_s);
        QCOMPARE(desk.label(u"Label4(0)"_s), u"現在の予約人数：0人    予約可能人数：あと3人"_s);

        desk.screen->Command1_Click(0);
        QVERIFY(desk.ws.dialogs.messages.isEmpty());
        const auto first = reservationInSlot(desk.ws.db, u"2009/12/24"_s, u"10"_s, u"山田"_s);
        const auto second = reservationInSlot(desk.ws.db, u"2010/01/14"_s, u"10"_s, u"山田"_s);
        QVERIFY(first && second);
        QCOMPARE(first->sflg, 2);
        QCOMPARE(first->scnt, 1);
        QCOMPARE(second->sflg, 2);
        QCOMPARE(second->scnt, 2);
        QCOMPARE(second->yno, first->yno + 1);
        QVERIFY(desk.combo(2, 0)->isHidden());
        QCOMPARE(desk.box(0)->text(), QString());
    }

    void cancelAtTheSecondWarningKeepsTheFirstDose()
    {
        Desk desk(1);
        desk.ws.addReservation(u"2009/10/30"_s, u"10"_s, u"先客"_s);
        desk.box(0)->setText(u"山田"_s);
        desk.screen->Option3_Click(1);
        desk.option(3, 1)->setChecked(true);
        desk.ws.dialogs.answers = {false};
        desk.screen->Command1_Click(0);
        QCOMPARE(desk.ws.dialogs.messages.size(), 1);
        QCOMPARE(desk.ws.dialogs.messages[0].text, overbooking);
        QCOMPARE(desk.ws.dialogs.messages[0].title, u"2回目の摂取"_s);
        QCOMPARE(desk.rows(u"KNM = '山田'"_s), 1);
        QCOMPARE(desk.rows(u"YDATE = '2009/10/09' AND SFLG = 2 AND SCNT = 1"_s), 1);
        QCOMPARE(desk.box(0)->text(), u"山田"_s);
        QVERIFY(desk.option(3, 1)->isChecked());
        // Trying again after choosing another second slot completes the pair without a duplicate.
        desk.combo(2, 2)->setCurrentText(u"31"_s);
        desk.screen->Command1_Click(0);
        QCOMPARE(desk.rows(u"KNM = '山田'"_s), 2);
    }

    void aSlotThatIsNoDateIsRefused_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("picker");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("leave"); // leaving a day picker would put the day back into the month
        QTest::newRow("year not a number") << 1 << 0 << u"20x6"_s << true;
        QTest::newRow("month 13") << 1 << 1 << u"13"_s << true;
        QTest::newRow("31 April typed") << 1 << 2 << u"31"_s << false;
        QTest::newRow("hour outside the slots") << 1 << 3 << u"25"_s << true;
        QTest::newRow("second dose no date") << 2 << 0 << u"x"_s << true;
    }

    void aSlotThatIsNoDateIsRefused()
    {
        QFETCH(int, row);
        QFETCH(int, picker);
        QFETCH(QString, typed);
        QFETCH(bool, leave);
        Desk desk;
        desk.setRow(1, u"2009"_s, u"04"_s, u"30"_s, u"10"_s);
        desk.box(0)->setText(u"山田"_s);
        if (row == 2) {
            desk.screen->Option3_Click(1);
            desk.option(3, 1)->setChecked(true);
        }
        desk.combo(row, picker)->setCurrentText(typed);
        if (leave) {
            Desk::focus(desk.combo(row, picker), QEvent::FocusOut);
        }
        const QString weekday = desk.label(u"Label3(2)"_s);
        desk.ws.dialogs.clear();
        desk.screen->Command1_Click(0);
        desk.screen->Command2_Click(row - 1);
        QCOMPARE(desk.ws.dialogs.messages.size(), 2);
        QVERIFY(desk.ws.dialogs.messages[0].text.startsWith(u"日付が正しくありません。"_s));
        QCOMPARE(desk.rows(), 0);
        QCOMPARE(desk.box(0)->text(), u"山田"_s);
        QCOMPARE(desk.label(u"Label3(2)"_s), weekday);
    }

    void secondDoseMustComeAfterTheFirst_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<bool>("refused");
        QTest::newRow("same day, later hour") << QStringList{u"2009"_s, u"11"_s, u"02"_s, u"08"_s}
                                              << QStringList{u"2009"_s, u"11"_s, u"02"_s, u"17"_s} << true;
        QTest::newRow("day before") << QStringList{u"2009"_s, u"11"_s, u"02"_s, u"10"_s}
                                    << QStringList{u"2009"_s, u"11"_s, u"01"_s, u"10"_s} << true;
        QTest::newRow("next day") << QStringList{u"2009"_s, u"11"_s, u"02"_s, u"10"_s}
                                  << QStringList{u"2009"_s, u"11"_s, u"03"_s, u"10"_s} << false;
        QTest::newRow("across the year end") << QStringList{u"2009"_s, u"12"_s, u"31"_s, u"10"_s}
                                             << QStringList{u"2010"_s, u"01"_s, u"21"_s, u"10"_s} << false;
    }

    void secondDoseMustComeAfterTheFirst()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QFETCH(bool, refused);
        Desk desk;
        desk.ws.addReservation(second[0] + u'/' + second[1] + u'/' + second[2], second[3], u"先客"_s);
        desk.box(0)->setText(u"山田"_s);
        desk.screen->Option3_Click(1);
        desk.setRow(1, first[0], first[1], first[2], first[3]);
        desk.setRow(2, second[0], second[1], second[2], second[3]);
        desk.screen->Command2_Click(1);
        // The slot of row 2 is shown either way.
        QCOMPARE(desk.label(u"Label4(0)"_s), u"現在の予約人数：1人    予約可能人数：あと2人"_s);
        QCOMPARE(desk.find<QListWidget>(u"List1"_s)->count(), 1);
        QCOMPARE(desk.ws.dialogs.texts(),
                 refused ? QStringList{u"2回目の摂取日は1回目の摂取日より未来の日付を入力してください。"_s}
                         : QStringList());
        QCOMPARE(desk.command(1, 0)->isEnabled(), !refused);
    }

    void checkSetsTheButtons_data()
    {
        QTest::addColumn<bool>("name");
        QTest::addColumn<bool>("booked");
        QTest::addColumn<bool>("registerBefore");
        QTest::addColumn<bool>("cancelBefore");
        QTest::addColumn<bool>("registerAfter");
        QTest::addColumn<bool>("cancelAfter");
        QTest::newRow("name, empty slot") << true << false << false << true << true << false;
        QTest::newRow("name after a load") << true << true << false << true << true << false;
        QTest::newRow("no name, empty slot") << false << false << true << true << true << false;
        QTest::newRow("no name, names listed") << false << true << true << true << true << true;
        QTest::newRow("no name, names listed, off") << false << true << false << false << false << false;
    }

    void checkSetsTheButtons()
    {
        QFETCH(bool, name);
        QFETCH(bool, booked);
        QFETCH(bool, registerBefore);
        QFETCH(bool, cancelBefore);
        QFETCH(bool, registerAfter);
        QFETCH(bool, cancelAfter);
        Desk desk;
        if (booked) {
            desk.ws.addReservation(u"2009/10/09"_s, u"10"_s, u"佐藤"_s);
        }
        desk.box(0)->setText(name ? u"山田"_s : QString());
        desk.command(1, 0)->setEnabled(registerBefore);
        desk.command(1, 1)->setEnabled(cancelBefore);
        QTest::mouseClick(desk.command(2, 0), Qt::LeftButton);
        QCOMPARE(desk.command(1, 0)->isEnabled(), registerAfter);
        QCOMPARE(desk.command(1, 1)->isEnabled(), cancelAfter);
    }

    void aNameInTheListLoadsItsReservationAndCancels()
    {
        Desk desk;
        BookingRecord r;
        r.kno = u"77"_s;
        r.knm = u"山田"_s;
        r.kknm = u"ﾔﾏﾀﾞ"_s;
        r.ydate = u"2009/10/30"_s;
        r.ytime = u"09"_s;
        r.bflg = 4;
        r.birthday = u"19年01月01日"_s;
        r.rflg = 1;
        r.kflg = 2;
        r.sflg = 2;
        r.scnt = 2;
        r.kmno = u"M-1"_s;
        registerReservation(desk.ws.db, r);
        desk.setRow(2, u"2009"_s, u"10"_s, u"30"_s, u"09"_s);
        desk.screen->Command2_Click(1);
        auto *list = desk.find<QListWidget>(u"List1"_s);
        QCOMPARE(list->count(), 1);
        desk.screen->List1_Click(list->item(0)->text());
        QCOMPARE(desk.box(8)->text(), u"77"_s);
        QCOMPARE(desk.box(1)->text(), u"ﾔﾏﾀﾞ"_s);
        QCOMPARE(desk.combo(1, 4)->currentText(), u"平成"_s);
        QCOMPARE(desk.box(5)->text(), u"M-1"_s);
        QVERIFY(desk.option(1, 0)->isChecked());
        QVERIFY(desk.option(2, 1)->isChecked());
        QVERIFY(desk.option(3, 3)->isChecked());
        QVERIFY(desk.combo(2, 0)->isHidden()); // loading selects the type but opens no second row
        QVERIFY(!desk.command(1, 0)->isEnabled());
        QVERIFY(desk.command(1, 1)->isEnabled());
        // The next click on a type reacts as usual.
        desk.option(3, 1)->click();
        QVERIFY(!desk.combo(2, 0)->isHidden());

        // Cancelling works on row 1's slot.
        desk.setRow(1, u"2009"_s, u"10"_s, u"30"_s, u"09"_s);
        desk.screen->Command1_Click(1);
        QCOMPARE(desk.rows(), 0);
        QCOMPARE(desk.box(0)->text(), QString());
        QCOMPARE(desk.label(u"Label3(0)"_s), u"現在の予約人数：0人    予約可能人数：あと3人"_s);
    }

    void leavingThePatientNumberLooksThePatientUp()
    {
        Desk desk;
        desk.ws.addReservation(u"2009/10/01"_s, u"10"_s, u"山田一郎"_s, 1, u"123"_s);
        desk.ws.addReservation(u"2009/10/02"_s, u"10"_s, u"山田太郎"_s, 1, u"123"_s);
        desk.ws.addReservation(u"2009/10/03"_s, u"10"_s, u"番号なし"_s, 1, QString());
        desk.box(8)->setText(u"123"_s);
        Desk::focus(desk.box(8), QEvent::FocusOut);
        QCOMPARE(desk.box(0)->text(), u"山田太郎"_s);
        QVERIFY(desk.option(1, 0)->isChecked());
        QVERIFY(desk.command(1, 0)->isEnabled());
        QVERIFY(!desk.command(1, 1)->isEnabled());

        desk.screen->input_clear();
        Desk::focus(desk.box(8), QEvent::FocusOut);
        QCOMPARE(desk.box(0)->text(), QString()); // an empty number looks nothing up
        desk.box(8)->setText(u"999"_s);
        Desk::focus(desk.box(8), QEvent::FocusOut);
        QCOMPARE(desk.box(0)->text(), QString());
        QVERIFY(desk.ws.dialogs.messages.isEmpty());
    }

    void clickIntoTheNameStartsANewEntryButTabKeepsIt()
    {
        Desk desk;
        desk.box(1)->setText(u"ﾔﾏﾀﾞ"_s);
        desk.option(3, 0)->setChecked(true);
        Desk::focus(desk.box(0), QEvent::FocusIn, Qt::TabFocusReason);
        QCOMPARE(desk.box(1)->text(), u"ﾔﾏﾀﾞ"_s);
        Desk::focus(desk.box(0), QEvent::FocusOut);
        Desk::focus(desk.box(0), QEvent::FocusIn, Qt::MouseFocusReason);
        QCOMPARE(desk.box(1)->text(), QString());
        QVERIFY(!desk.option(3, 0)->isChecked());
        QVERIFY(desk.command(1, 0)->isEnabled());
        QVERIFY(!desk.command(1, 1)->isEnabled());
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
        QCOMPARE(name->text(), u"山田花子"_s);
        QCOMPARE(desk.box(1)->text(), u"ｶﾅﾔﾏﾀﾞﾊﾅｺ"_s);
        Desk::focus(name, QEvent::FocusIn);
        type(u"じろう"_s, u"次郎"_s);
        Desk::focus(name, QEvent::FocusOut);
        QCOMPARE(desk.box(1)->text(), u"ｶﾅﾔﾏﾀﾞﾊﾅｺｼﾞﾛｳ"_s);
    }

    void leavingTheBirthDateShowsTheAge_data()
    {
        QTest::addColumn<QString>("era");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("age");
        QTest::newRow("western") << u"西暦"_s << u"20020101"_s << u"2002年01月01日"_s << u"18才"_s;
        QTest::newRow("reiwa") << u"令和"_s << u"010801"_s << u"01年08月01日"_s << u"1才"_s;
        QTest::newRow("month 13") << u"西暦"_s << u"20021301"_s << u"2002年13月01日"_s << QString();
    }

    void leavingTheBirthDateShowsTheAge()
    {
        QFETCH(QString, era);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, age);
        Desk desk(3, QDateTime(QDate(2020, 12, 1), QTime(10, 0)));
        desk.find<QLabel>(u"Label6"_s)->setText(u"old"_s);
        desk.combo(1, 4)->setCurrentText(era);
        desk.box(2)->setText(typed);
        Desk::focus(desk.box(2), QEvent::FocusOut);
        QCOMPARE(desk.box(2)->text(), shown);
        QCOMPARE(desk.label(u"Label6"_s), age);
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
        QCOMPARE(desk.box(0)->text(), u"山田"_s);
        QCOMPARE(desk.box(3)->text(), u"03-1234"_s);
    }
};

QTEST_MAIN(TestEntryScreen)
#include "tst_entryscreen.moc"
