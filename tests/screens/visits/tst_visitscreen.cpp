#include "app/base/ProgramState.h"
#include "screens/visits/VisitScreen.h"
#include "support/Workspace.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using qrb::VisitScreen;
using qrb::test::Workspace;

namespace {

const QString Today = u"2009/10/09"_s;

QStringList lines(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        out << list->item(i)->text();
    }
    return out;
}

QListWidgetItem *lineOf(QListWidget *list, int yno)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(VisitScreen::YnoRole).toInt() == yno) {
            return list->item(i);
        }
    }
    return nullptr;
}

// As a click does: the line becomes the current one and, in a single-selection list, the selected one.
void choose(QListWidget *list, int yno)
{
    list->setCurrentItem(lineOf(list, yno));
}

int flagOf(Workspace &ws, int yno)
{
    return ws.db.scalar(u"SELECT CFLG FROM YOYAKU WHERE YNO = ?"_s, {yno}).toInt();
}

// Records, at the moment a message is shown, whether the screen's timer was still running.
class TimerWatchingDialogs final : public qrb::Dialogs
{
public:
    bool ask(const QString &, const QString &) override { return true; }
    void tell(const QString &text, const QString &) override
    {
        texts << text;
        timerRunning << (timer != nullptr && timer->isActive());
    }
    QTimer *timer = nullptr;
    QStringList texts;
    QList<bool> timerRunning;
};

} // namespace

class VisitScreenTest : public QObject
{
    Q_OBJECT

private:
    static QListWidget *list(VisitScreen &screen, int n)
    {
        return screen.findChild<QListWidget *>(u"List%1"_s.arg(n));
    }

private slots:
    void opensOnTodayWithSortedLines()
    {
        Workspace ws;
        ws.addReservation(Today, u"10"_s, u"鈴木"_s);
        const int sato = ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        ws.addReservation(Today, u"09"_s, u"田中"_s, 1);
        ws.addReservation(u"2009/10/10"_s, u"08"_s, u"翌日"_s);
        VisitScreen screen(*ws.state);
        QCOMPARE(screen.windowTitle(), u"来院記録"_s);
        QCOMPARE(screen.findChild<QComboBox *>(u"Combo1(0)"_s)->currentText(), u"2009"_s);
        QCOMPARE(screen.findChild<QComboBox *>(u"Combo1(1)"_s)->currentText(), u"10"_s);
        QCOMPARE(screen.findChild<QComboBox *>(u"Combo1(2)"_s)->currentText(), u"09"_s);
        QCOMPARE(screen.findChild<QLabel *>(u"Label3(2)"_s)->text(), u"(金)"_s);
        QCOMPARE(lines(list(screen, 1)), (QStringList{u"08時 --- 佐藤"_s, u"10時 --- 鈴木"_s}));
        QCOMPARE(lines(list(screen, 2)), QStringList{u"09時 --- 田中"_s});
        QCOMPARE(list(screen, 1)->item(0)->data(VisitScreen::YnoRole).toInt(), sato);
    }

    void moveButtonSwapsTheSelectedLineOfEachList()
    {
        Workspace ws;
        const int waiting = ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        const int came = ws.addReservation(Today, u"09"_s, u"田中"_s, 1);
        const int other = ws.addReservation(Today, u"11"_s, u"山田"_s);
        VisitScreen screen(*ws.state);
        choose(list(screen, 1), waiting);
        choose(list(screen, 2), came);
        screen.findChild<QPushButton *>(u"Command1"_s)->click();
        QCOMPARE(flagOf(ws, waiting), 1);
        QCOMPARE(flagOf(ws, came), 0);
        QCOMPARE(flagOf(ws, other), 0);
        QCOMPARE(lines(list(screen, 1)), (QStringList{u"09時 --- 田中"_s, u"11時 --- 山田"_s}));
        QCOMPARE(lines(list(screen, 2)), QStringList{u"08時 --- 佐藤"_s});
        // No neighbour is left chosen for the next click.
        QVERIFY(list(screen, 1)->selectedItems().isEmpty());
        QVERIFY(list(screen, 2)->selectedItems().isEmpty());
    }

    void nothingSelectedChangesNothing()
    {
        Workspace ws;
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        ws.addReservation(Today, u"09"_s, u"田中"_s, 1);
        VisitScreen screen(*ws.state);
        screen.Command1_Click();
        screen.List1_DragDrop();
        screen.List2_DragDrop();
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 佐藤"_s});
        QCOMPARE(lines(list(screen, 2)), QStringList{u"09時 --- 田中"_s});
        QCOMPARE(ws.db.scalar(u"SELECT SUM(CFLG) FROM YOYAKU"_s).toInt(), 1);
    }

    void sameNameTwiceInAnHourMovesTheChosenOne()
    {
        Workspace ws;
        const int first = ws.addReservation(Today, u"10"_s, u"山田太郎"_s);
        const int second = ws.addReservation(Today, u"10"_s, u"山田太郎"_s);
        VisitScreen screen(*ws.state);
        choose(list(screen, 1), second);
        screen.Command1_Click();
        QCOMPARE(flagOf(ws, first), 0);
        QCOMPARE(flagOf(ws, second), 1);
        screen.findChild<QPushButton *>(u"Command3"_s)->click();
        QVERIFY(lineOf(list(screen, 1), first) != nullptr);
        QVERIFY(lineOf(list(screen, 2), second) != nullptr);
    }

    void dropOnEachList_data()
    {
        QTest::addColumn<int>("target");
        QTest::newRow("on List2: came") << 2;
        QTest::newRow("on List1: not yet") << 1;
    }

    void dropOnEachList()
    {
        QFETCH(int, target);
        Workspace ws;
        const int source = target == 2 ? 1 : 2;
        const int yno = ws.addReservation(Today, u"08"_s, u"佐藤"_s, source == 2 ? 1 : 0);
        const int stays = ws.addReservation(Today, u"09"_s, u"田中"_s, source == 2 ? 1 : 0);
        VisitScreen screen(*ws.state);
        choose(list(screen, source), yno);
        if (target == 2) {
            screen.List2_DragDrop();
        } else {
            screen.List1_DragDrop();
        }
        QCOMPARE(flagOf(ws, yno), target == 2 ? 1 : 0);
        QCOMPARE(flagOf(ws, stays), source == 2 ? 1 : 0);
        QCOMPARE(lines(list(screen, target)), QStringList{u"08時 --- 佐藤"_s});
        QCOMPARE(lines(list(screen, source)), QStringList{u"09時 --- 田中"_s});
    }

    void lineOfReservationCancelledElsewhereWritesNothing()
    {
        Workspace ws;
        const int gone = ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        VisitScreen screen(*ws.state);
        ws.db.write(u"DELETE FROM YOYAKU WHERE YNO = ?"_s, {gone});
        // Another workstation books a new patient, who draws the freed number.
        QCOMPARE(ws.addReservation(Today, u"08"_s, u"鈴木"_s), gone);
        choose(list(screen, 1), gone);
        screen.Command1_Click();
        QCOMPARE(flagOf(ws, gone), 0);
        QVERIFY(ws.dialogs.messages.isEmpty());
        screen.Timer1_Timer();
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 鈴木"_s});
        QCOMPARE(list(screen, 2)->count(), 0);
    }

    void detailMessage_data()
    {
        QTest::addColumn<QVariantList>("fields"); // KNO, TEL1, TEL2, RFLG, KFLG, KMNO, SFLG, SCNT, BIKO
        QTest::addColumn<QString>("expected");
        const QVariant null;
        QTest::newRow("empty fields and unset codes")
            << QVariantList{null, u""_s, null, null, 0, null, null, null, null}
            << u"患者番号:　\r\n電話番号:　  \r\n来院歴　:　未入力\r\n組合員　:　未入力  \r\n種  別　:　未入力\r\n備　考　:　"_s;
        QTest::newRow("everything given")
            << QVariantList{u"A-17"_s, u"03-1234"_s, u"090-9"_s, 1, 1, u"M55"_s, 2, 2, u"卵アレルギー"_s}
            << u"患者番号:　A-17\r\n電話番号:　03-1234  090-9\r\n来院歴　:　来院歴あり\r\n組合員　:　組合員です  M55\r\n"
               u"種  別　:　新型 2回目\r\n備　考　:　卵アレルギー"_s;
        QTest::newRow("no visit before, no member, seasonal")
            << QVariantList{u"1"_s, null, null, 2, 2, null, 1, 1, null}
            << u"患者番号:　1\r\n電話番号:　  \r\n来院歴　:　来院歴なし\r\n組合員　:　非組合員  \r\n種  別　:　季節性\r\n備　考　:　"_s;
        QTest::newRow("first dose only")
            << QVariantList{null, null, null, 0, 0, null, 3, 1, null}
            << u"患者番号:　\r\n電話番号:　  \r\n来院歴　:　未入力\r\n組合員　:　未入力  \r\n種  別　:　新型 1回目のみ\r\n備　考　:　"_s;
        QTest::newRow("second dose only, unknown codes")
            << QVariantList{null, null, null, 7, 9, null, 4, 2, null}
            << u"患者番号:　\r\n電話番号:　  \r\n来院歴　:　\r\n組合員　:　  \r\n種  別　:　新型 2回目のみ\r\n備　考　:　"_s;
    }

    void detailMessage()
    {
        QFETCH(QVariantList, fields);
        QFETCH(QString, expected);
        Workspace ws;
        ws.db.write(u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG, "
                    "KNO, TEL1, TEL2, RFLG, KFLG, KMNO, SFLG, SCNT, BIKO) VALUES (1, '佐藤', ?, '08', 0, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s,
                    {Today, fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7],
                     fields[8]});
        VisitScreen screen(*ws.state);
        screen.resize(800, 600);
        screen.show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        QListWidget *waiting = list(screen, 1);
        QCOMPARE(waiting->count(), 1);
        const QPoint at = waiting->visualItemRect(waiting->item(0)).center();
        // A double click is a press, a release and the second press.
        QTest::mouseClick(waiting->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(waiting->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QCOMPARE(ws.dialogs.messages.first().text, expected);
        QCOMPARE(ws.dialogs.messages.first().title, QString());
    }

    void automaticRefreshSwitches()
    {
        Workspace ws;
        VisitScreen screen(*ws.state);
        auto *timer = screen.findChild<QTimer *>(u"Timer1"_s);
        auto *manual = screen.findChild<QPushButton *>(u"Command3"_s);
        QCOMPARE(timer->interval(), 10000);
        QVERIFY(!timer->isActive());
        QVERIFY(manual->isEnabled());
        QVERIFY(screen.findChild<QRadioButton *>(u"Option1(1)"_s)->isChecked());
        screen.findChild<QRadioButton *>(u"Option1(0)"_s)->click();
        QVERIFY(timer->isActive());
        QVERIFY(!manual->isEnabled());
        screen.findChild<QRadioButton *>(u"Option1(1)"_s)->click();
        QVERIFY(!timer->isActive());
        QVERIFY(manual->isEnabled());
    }

    void failedTickTellsOnceAndStopsRefreshing()
    {
        Workspace ws;
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        TimerWatchingDialogs dialogs;
        qrb::ProgramState state{ws.folder(), ws.state->config, ws.db, ws.clock, dialogs, ws.viewer};
        VisitScreen screen(state);
        dialogs.timer = screen.findChild<QTimer *>(u"Timer1"_s);
        screen.findChild<QRadioButton *>(u"Option1(0)"_s)->click();
        ws.db.DB_close();
        screen.Timer1_Timer();
        QCOMPARE(dialogs.texts.size(), 1);
        QCOMPARE(dialogs.timerRunning, QList<bool>{false});
        QVERIFY(screen.findChild<QRadioButton *>(u"Option1(1)"_s)->isChecked());
        QVERIFY(screen.findChild<QPushButton *>(u"Command3"_s)->isEnabled());
        // The lines stay as last read, not emptied by the failed read.
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 佐藤"_s});
    }

    void failedMoveTellsAndKeepsTheLine()
    {
        Workspace ws;
        const int yno = ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        VisitScreen screen(*ws.state);
        choose(list(screen, 1), yno);
        ws.db.DB_close();
        screen.Command1_Click();
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"来院を記録できませんでした。"_s));
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 佐藤"_s});
        QCOMPARE(list(screen, 2)->count(), 0);
    }

    void leavingAPickerShowsThatDay()
    {
        Workspace ws;
        ws.addReservation(u"2009/11/09"_s, u"08"_s, u"佐藤"_s);
        VisitScreen screen(*ws.state);
        auto *month = screen.findChild<QComboBox *>(u"Combo1(1)"_s);
        month->setCurrentText(u"11"_s);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(month, &out);
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 佐藤"_s});
        QCOMPARE(screen.findChild<QLabel *>(u"Label3(2)"_s)->text(), u"(月)"_s);
        // A month typed without its leading zero names no stored day.
        month->setCurrentText(u"1"_s);
        QCoreApplication::sendEvent(month, &out);
        QCOMPARE(list(screen, 1)->count(), 0);
    }
};

QTEST_MAIN(VisitScreenTest)
#include "tst_visitscreen.moc"
