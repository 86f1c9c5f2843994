#include "screens/common/ProgramState.h"
#include "screens/visits/VisitScreen.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QComboBox>
#include <QListWidget>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using namespace qrb::test;
using qrb::VisitScreen;

namespace {

const QString Today = u"2009/10/09"_s;

// Each line as shown, with the reservation number it carries.
QStringList lines(const VisitScreen &screen, int n)
{
    auto *list = control<QListWidget>(&screen, u"List%1"_s.arg(n));
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        out << u"%1 #%2"_s.arg(list->item(i)->text()).arg(list->item(i)->data(VisitScreen::YnoRole).toInt());
    }
    out.sort(); // two lines of the same name and hour may come in either order
    return out;
}

// A mouse click on the line of a reservation.
void choose(const VisitScreen &screen, int n, int yno)
{
    auto *list = control<QListWidget>(&screen, u"List%1"_s.arg(n));
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(VisitScreen::YnoRole).toInt() == yno) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(i)).center());
        }
    }
}

QString flags(Workspace &ws)
{
    return stored(ws.db, u"CFLG"_s).join(QString());
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
    void opensOnTodayAndFollowsThePickersAsTyped()
    {
        Workspace ws;
        ws.addReservation(Today, u"10"_s, u"鈴木"_s);
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        ws.addReservation(Today, u"09"_s, u"田中"_s, 1);
        ws.addReservation(u"2009/11/09"_s, u"08"_s, u"十一月"_s);
        VisitScreen screen(*ws.state);
        showActive(&screen);
        QCOMPARE(shows(&screen, {u"Combo1(0)"_s, u"Combo1(1)"_s, u"Combo1(2)"_s, u"Label3(2)"_s}),
                 (QStringList{u"2009"_s, u"10"_s, u"09"_s, u"(金)"_s}));
        QCOMPARE(lines(screen, 1), (QStringList{u"08時 --- 佐藤 #2"_s, u"10時 --- 鈴木 #1"_s}));
        QCOMPARE(lines(screen, 2), QStringList{u"09時 --- 田中 #3"_s});
        auto *month = control<QComboBox>(&screen, u"Combo1(1)"_s);
        typeInto(month, u"11"_s);
        QCOMPARE(lines(screen, 1), QStringList{u"08時 --- 十一月 #4"_s});
        QCOMPARE(shows(&screen, {u"Label3(2)"_s}), QStringList{u"(月)"_s});
        // A month typed without its leading zero names no stored day (and is not completed into "10").
        typeInto(month, u"1"_s);
        QCOMPARE(month->currentText(), u"1"_s);
        QCOMPARE(lines(screen, 1), QStringList{});
    }

    void movesWriteTheFlagOfTheChosenLine_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("chosen1"); // reservation clicked in List1 (0: none)
        QTest::addColumn<int>("chosen2");
        QTest::addColumn<QString>("flags"); // CFLG by reservation number afterwards
        QTest::newRow("⇔ with a line in each list") << u"⇔"_s << 1 << 2 << u"10001"_s;
        QTest::newRow("⇔ with nothing selected") << u"⇔"_s << 0 << 0 << u"01001"_s;
        QTest::newRow("⇔ on the second of two same names") << u"⇔"_s << 4 << 0 << u"01011"_s;
        QTest::newRow("drop on List2") << u"List2"_s << 1 << 0 << u"11001"_s;
        QTest::newRow("drop on List1, nothing selected") << u"List1"_s << 0 << 0 << u"01001"_s;
    }

    void movesWriteTheFlagOfTheChosenLine()
    {
        QFETCH(QString, action);
        QFETCH(int, chosen1);
        QFETCH(int, chosen2);
        QFETCH(QString, flags);
        Workspace ws;
        const QStringList booked = {u"08時 --- 佐藤"_s, u"09時 --- 田中"_s, u"10時 --- 山田太郎"_s,
                                    u"10時 --- 山田太郎"_s, u"11時 --- 鈴木"_s};
        for (int i = 0; i < booked.size(); ++i) {
            ws.addReservation(Today, booked[i].left(2), booked[i].mid(8), i == 1 || i == 4 ? 1 : 0);
        }
        VisitScreen screen(*ws.state);
        showActive(&screen);
        choose(screen, 1, chosen1);
        choose(screen, 2, chosen2);
        if (action == u"⇔"_s) {
            click(&screen, u"Command1"_s);
        } else {
            action == u"List1"_s ? screen.List1_DragDrop() : screen.List2_DragDrop();
        }
        QCOMPARE(::flags(ws), flags);
        QStringList waiting, came;
        for (int i = 0; i < booked.size(); ++i) {
            (flags[i] == u'0' ? waiting : came) << u"%1 #%2"_s.arg(booked[i]).arg(i + 1);
        }
        QCOMPARE(lines(screen, 1), waiting);
        QCOMPARE(lines(screen, 2), came);
        // 手動更新 reads the same back, and no neighbour was left chosen for the next move.
        click(&screen, u"Command3"_s);
        click(&screen, u"Command1"_s);
        QCOMPARE(lines(screen, 1), waiting);
        QCOMPARE(::flags(ws), flags);
    }

    // A line chosen before a refresh is still the one moved after it; one whose reservation went away
    // meanwhile is not silently lost.
    void aChosenLineAcrossARefresh_data()
    {
        QTest::addColumn<bool>("gone");    // cancelled elsewhere, its number drawn again by 鈴木
        QTest::addColumn<bool>("refresh"); // a tick comes between the click and "⇔"
        QTest::addColumn<QString>("flags");
        QTest::addColumn<int>("told");
        QTest::newRow("kept by its number") << false << true << u"1"_s << 0;
        QTest::newRow("gone at the refresh") << true << true << u"0"_s << 1;
        QTest::newRow("gone, no refresh: nothing written") << true << false << u"0"_s << 0;
    }

    void aChosenLineAcrossARefresh()
    {
        QFETCH(bool, gone);
        QFETCH(bool, refresh);
        QFETCH(QString, flags);
        QFETCH(int, told);
        Workspace ws;
        ws.addReservation(Today, u"09"_s, u"田中"_s);
        const int yno = ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        VisitScreen screen(*ws.state);
        showActive(&screen);
        choose(screen, 1, yno);
        if (gone) {
            ws.db.write(u"DELETE FROM YOYAKU WHERE YNO = ?"_s, {yno});
            QCOMPARE(ws.addReservation(Today, u"08"_s, u"鈴木"_s), yno);
        }
        if (refresh) {
            screen.Timer1_Timer();
        }
        click(&screen, u"Command1"_s);
        QCOMPARE(stored(ws.db, u"CFLG"_s, u"YNO = 2"_s).join(QString()), flags);
        QCOMPARE(::flags(ws).left(1), u"0"_s); // 田中 stays
        QCOMPARE(ws.dialogs.messages.size(), told);
    }

    void detailMessage_data()
    {
        QTest::addColumn<QVariantList>("fields"); // KNO, TEL1, TEL2, RFLG, KFLG, KMNO, SFLG, SCNT, BIKO
        QTest::addColumn<QString>("expected");
        const QVariant null;
        QTest::newRow("everything given")
            << QVariantList{u"A-17"_s, u"03-1234"_s, u"090-9"_s, 1, 1, u"M55"_s, 2, 2, u"卵アレルギー"_s}
            << u"患者番号:　A-17\r\n電話番号:　03-1234  090-9\r\n来院歴　:　来院歴あり\r\n組合員　:　組合員です  "
               u"M55\r\n"
               u"種  別　:　新型 2回目\r\n備　考　:　卵アレルギー"_s;
        QTest::newRow("second dose only, unknown codes")
            << QVariantList{null, null, null, 7, 9, null, 4, 2, null}
            << u"患者番号:　\r\n電話番号:　  \r\n来院歴　:　\r\n組合員　:　  \r\n種  別　:　新型 2回目のみ\r\n備　考　:　"_s;
    }

    void detailMessage()
    {
        QFETCH(QVariantList, fields);
        QFETCH(QString, expected);
        Workspace ws;
        ws.db.write(
            u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG, "
            "KNO, TEL1, TEL2, RFLG, KFLG, KMNO, SFLG, SCNT, BIKO) VALUES (1, '佐藤', ?, '08', 0, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s,
            {Today, fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7], fields[8]});
        VisitScreen screen(*ws.state);
        showActive(&screen);
        auto *waiting = control<QListWidget>(&screen, u"List1"_s);
        const QPoint at = waiting->visualItemRect(waiting->item(0)).center();
        QTest::mouseClick(waiting->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(waiting->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(ws.dialogs.texts(), QStringList{expected});
        QCOMPARE(ws.dialogs.messages.first().title, QString());
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
        QCOMPARE(dialogs.timer->interval(), 10000);
        QCOMPARE(shows(&screen, {u"Option1(1)"_s}), QStringList{u"on"_s});
        click(&screen, u"Option1(0)"_s);
        QVERIFY(dialogs.timer->isActive() && !control(&screen, u"Command3"_s)->isEnabled());
        control(&screen, u"Combo1(1)"_s)->setFocus(Qt::TabFocusReason);
        ws.db.DB_close();
        screen.Timer1_Timer();
        QCOMPARE(dialogs.timerRunning, QList<bool>{false});
        QCOMPARE(shows(&screen, {u"Option1(1)"_s}), QStringList{u"on"_s});
        QVERIFY(control(&screen, u"Command3"_s)->isEnabled());
        // The lines stay as last read, not emptied by the failed read.
        QCOMPARE(lines(screen, 1), QStringList{u"08時 --- 佐藤 #1"_s});

        // A move that cannot be written says so and keeps the line.
        choose(screen, 1, 1);
        click(&screen, u"Command1"_s);
        QCOMPARE(dialogs.texts.size(), 2);
        QVERIFY(dialogs.texts.last().startsWith(u"来院を記録できませんでした。"_s));
        QCOMPARE(lines(screen, 1), QStringList{u"08時 --- 佐藤 #1"_s});
    }
};

QTEST_MAIN(VisitScreenTest)
#include "tst_visitscreen.moc"
