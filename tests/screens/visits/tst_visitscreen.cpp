#include "screens/common/ProgramState.h"
#include "screens/visits/VisitScreen.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QComboBox>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using namespace qrb::test;
using qrb::VisitScreen;

namespace {

const QString Today = u"2009/10/09"_s;

// A mouse click on the line of a reservation.
void choose(const VisitScreen &screen, const QString &list, int yno)
{
    auto *lines = control<QListWidget>(&screen, list);
    for (int i = 0; i < lines->count(); ++i) {
        if (lines->item(i)->data(VisitScreen::YnoRole).toInt() == yno) {
            clickLine(lines, i);
        }
    }
}

// Both lists as shown: those waiting, "|", those who came.
QStringList bothLists(const VisitScreen &screen)
{
    return linesOf(&screen, u"List1"_s) + QStringList{u"|"_s} + linesOf(&screen, u"List2"_s);
}

// Tells as a message box does: another window takes the focus while the message is shown. Records
// whether the screen's timer was still running at that moment.
class WindowDialogs final : public qrb::Dialogs
{
public:
    bool ask(const QString &, const QString &) override { return true; }
    void tell(const QString &text, const QString &) override
    {
        texts << text;
        timerRunning << (timer != nullptr && timer->isActive());
        auto box = std::make_unique<QWidget>();
        box->show();
        QApplication::setActiveWindow(box.get());
        QVERIFY(QTest::qWaitForWindowActive(box.get()));
    }
    QTimer *timer = nullptr;
    QStringList texts;
    QList<bool> timerRunning;
};

} // namespace

class VisitScreenTest : public QObject
{
    Q_OBJECT

private slots:
    // Opened on today, the day's reservations stand in their lists, a double click on a waiting line tells
    // its details (Null and unknown codes as empty texts), and the lists follow the pickers as typed.
    void opensOnTodayAndFollowsThePickersAsTyped()
    {
        Workspace ws;
        ws.addReservation(Today, u"10"_s, u"鈴木\r\n一郎"_s); // a line break another program stored
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        ws.addReservation(Today, u"09"_s, u"田中"_s, 1);
        ws.addReservation(u"2009/11/09"_s, u"08"_s, u"十一月"_s);
        const QString details = u"UPDATE YOYAKU SET KNO = ?, TEL1 = ?, TEL2 = ?, RFLG = ?, KFLG = ?, KMNO = ?, "
                                "SFLG = ?, SCNT = ?, BIKO = ? WHERE YNO = ?"_s;
        ws.db.write(details, {u"A-17"_s, u"03-1234"_s, u"090-9"_s, 1, 1, u"M55"_s, 2, 2, u"卵アレルギー"_s, 2});
        ws.db.write(details, {QVariant(), QVariant(), QVariant(), 7, 9, QVariant(), 4, 2, QVariant(), 1});
        VisitScreen screen(*ws.state);
        showActive(&screen);
        QCOMPARE(shows(&screen, {u"Combo1(0)"_s, u"Combo1(1)"_s, u"Combo1(2)"_s, u"Label3(2)"_s}),
                 (QStringList{u"2009"_s, u"10"_s, u"09"_s, u"(金)"_s}));
        QCOMPARE(bothLists(screen),
                 (QStringList{u"08時 --- 佐藤"_s, u"10時 --- 鈴木 一郎"_s, u"|"_s, u"09時 --- 田中"_s}));
        auto *waiting = control<QListWidget>(&screen, u"List1"_s);
        for (const int row : {0, 1}) {
            clickLine(waiting, row);
            QTest::mouseDClick(waiting->viewport(), Qt::LeftButton, {},
                               waiting->visualItemRect(waiting->item(row)).center());
        }
        QCOMPARE(ws.dialogs.texts(),
                 (QStringList{u"患者番号:　A-17\r\n電話番号:　03-1234  090-9\r\n来院歴　:　来院歴あり\r\n"
                              u"組合員　:　組合員です  M55\r\n種  別　:　新型 2回目\r\n備　考　:　卵アレルギー"_s,
                              u"患者番号:　\r\n電話番号:　  \r\n来院歴　:　\r\n組合員　:　  \r\n"
                              u"種  別　:　新型 2回目のみ\r\n備　考　:　"_s}));
        auto *month = control<QComboBox>(&screen, u"Combo1(1)"_s);
        typeInto(month, u"11"_s);
        QCOMPARE(bothLists(screen), (QStringList{u"08時 --- 十一月"_s, u"|"_s}));
        // A month typed without its leading zero is padded as the day is (not completed into "10").
        typeInto(month, u"1"_s);
        QCOMPARE(month->currentText(), u"01"_s);
        QCOMPARE(bothLists(screen), QStringList{u"|"_s});
    }

    // "⇔" moves the line chosen in each list, a drop the one chosen in the other list, and nothing else.
    // A line chosen before a tick is still the one moved after it; one whose reservation went away
    // meanwhile (鈴木 cancelled at another desk, his number written again for 伊藤 by another program,
    // come at the same hour) is not silently lost, nor taken for 伊藤's: the user is told, the lists
    // are read again, and no notice claims a move.
    void movesWriteTheFlagOfTheChosenLine_data()
    {
        QTest::addColumn<QString>("action");    // "⇔", or the list dropped on
        QTest::addColumn<QString>("chosen");    // reservations clicked in List1, List2 (0: none)
        QTest::addColumn<QString>("meanwhile"); // between the click and the action
        QTest::addColumn<QString>("flags");     // CFLG by reservation number afterwards
        QTest::addColumn<int>("told");
        QTest::newRow("⇔ with a line in each list") << u"⇔"_s << u"1 2"_s << QString() << u"10001"_s << 0;
        QTest::newRow("⇔ on the second of two same names") << u"⇔"_s << u"4 0"_s << QString() << u"01011"_s << 0;
        QTest::newRow("drop on List2") << u"List2"_s << u"1 0"_s << QString() << u"11001"_s << 0;
        QTest::newRow("drop on List1, nothing chosen") << u"List1"_s << u"0 0"_s << QString() << u"01001"_s << 0;
        QTest::newRow("kept by its number across a tick") << u"⇔"_s << u"0 5"_s << u"tick"_s << u"01000"_s << 0;
        QTest::newRow("gone at the tick") << u"⇔"_s << u"0 5"_s << u"gone tick"_s << u"01001"_s << 1;
        QTest::newRow("gone, no tick: nothing written") << u"⇔"_s << u"0 5"_s << u"gone"_s << u"01001"_s << 1;
    }

    void movesWriteTheFlagOfTheChosenLine()
    {
        QFETCH(QString, action);
        QFETCH(QString, chosen);
        QFETCH(QString, meanwhile);
        QFETCH(QString, flags);
        QFETCH(int, told);
        Workspace ws;
        for (const QString &booked :
             {u"08 佐藤 0"_s, u"09 田中 1"_s, u"10 山田太郎 0"_s, u"10 山田太郎 0"_s, u"11 鈴木 1"_s}) {
            const QStringList f = booked.split(u' ');
            ws.addReservation(Today, f[0], f[1], f[2].toInt());
        }
        const auto flagsNow = [&] { return stored(ws.db, u"CFLG"_s).join(QString()); };
        VisitScreen screen(*ws.state);
        showActive(&screen);
        choose(screen, u"List1"_s, chosen.section(u' ', 0, 0).toInt());
        choose(screen, u"List2"_s, chosen.section(u' ', 1).toInt());
        if (meanwhile.contains(u"gone"_s)) {
            qrb::Database other(u"other desk"_s);
            other.DB_open(ws.target());
            other.write(u"DELETE FROM YOYAKU WHERE YNO = 5"_s);
            other.write(u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG) VALUES (5, '伊藤', ?, '11', 1)"_s, {Today});
        }
        if (meanwhile.contains(u"tick"_s)) {
            screen.Timer1_Timer();
        }
        if (action == u"⇔"_s) {
            click(&screen, u"Command1"_s);
        } else {
            action == u"List1"_s ? screen.List1_DragDrop() : screen.List2_DragDrop();
        }
        QCOMPARE(flagsNow(), flags);
        QCOMPARE(ws.dialogs.messages.size(), told);
        QVERIFY2(told == 0 || ws.state->notices.last().isEmpty(), qPrintable(ws.state->notices.last()));
        // The lists show at once what 手動更新 reads back, and no neighbour was left chosen for the
        // next "⇔".
        const QStringList shown = bothLists(screen);
        click(&screen, u"Command3"_s);
        click(&screen, u"Command1"_s);
        QCOMPARE(flagsNow(), flags);
        QCOMPARE(shown, bothLists(screen));
    }

    // One failure, one message, the timer already off: the message box taking the focus from a date
    // picker is no leaving of it.
    void aFailedTickTellsOnceAndStops()
    {
        Workspace ws;
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        WindowDialogs dialogs;
        qrb::ProgramState state{ws.folder(), ws.state->config, ws.db, ws.clock, dialogs, ws.viewer};
        VisitScreen screen(state);
        showActive(&screen);
        dialogs.timer = screen.findChild<QTimer *>(u"Timer1"_s);
        click(&screen, u"Option1(0)"_s);
        QVERIFY(dialogs.timer->isActive() && !control(&screen, u"Command3"_s)->isEnabled());
        control(&screen, u"Combo1(1)"_s)->setFocus(Qt::TabFocusReason);
        ws.db.DB_close();
        screen.Timer1_Timer();
        QCOMPARE(dialogs.timerRunning, QList<bool>{false});
        QVERIFY(shows(&screen, {u"Option1(1)"_s}) == QStringList{u"on"_s} &&
                control(&screen, u"Command3"_s)->isEnabled());
        // The lines stay as last read, not emptied by the failed read.
        QCOMPARE(linesOf(&screen, u"List1"_s), QStringList{u"08時 --- 佐藤"_s});

        // A move that cannot be written says so and keeps the line.
        choose(screen, u"List1"_s, 1);
        click(&screen, u"Command1"_s);
        QVERIFY(dialogs.texts.size() == 2 && dialogs.texts.last().startsWith(u"来院を記録できませんでした。"_s));
        QCOMPARE(linesOf(&screen, u"List1"_s), QStringList{u"08時 --- 佐藤"_s});
    }
};

QTEST_MAIN(VisitScreenTest)
#include "tst_visitscreen.moc"
