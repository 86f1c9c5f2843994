#include "screens/common/ProgramState.h"
#include "screens/visits/VisitScreen.h"
#include "support/Workspace.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using qrb::VisitScreen;
using qrb::test::Workspace;

namespace {

const QString Today = u"2009/10/09"_s;

// Each line as shown, with the reservation number it carries.
QStringList lines(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        out << u"%1 #%2"_s.arg(list->item(i)->text()).arg(list->item(i)->data(VisitScreen::YnoRole).toInt());
    }
    return out;
}

// As a click does: the line becomes the current one and, in a single-selection list, the selected one.
void choose(QListWidget *list, int yno)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(VisitScreen::YnoRole).toInt() == yno) {
            list->setCurrentItem(list->item(i));
        }
    }
}

QString flags(Workspace &ws)
{
    QString out;
    ws.db.forEachRow(u"SELECT CFLG FROM YOYAKU ORDER BY YNO"_s, {},
                     [&](const QSqlQuery &q) { out += q.value(0).toString(); });
    return out;
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
    void opensOnTodayAndFollowsThePickers()
    {
        Workspace ws;
        ws.addReservation(Today, u"10"_s, u"鈴木"_s);
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        ws.addReservation(Today, u"09"_s, u"田中"_s, 1);
        ws.addReservation(u"2009/10/10"_s, u"08"_s, u"翌日"_s);
        ws.addReservation(u"2009/11/09"_s, u"08"_s, u"十一月"_s);
        VisitScreen screen(*ws.state);
        QCOMPARE(screen.windowTitle(), u"来院記録"_s);
        QStringList shown;
        for (const QString &name : {u"Combo1(0)"_s, u"Combo1(1)"_s, u"Combo1(2)"_s}) {
            shown << screen.findChild<QComboBox *>(name)->currentText();
        }
        QCOMPARE(shown, (QStringList{u"2009"_s, u"10"_s, u"09"_s}));
        QCOMPARE(screen.findChild<QLabel *>(u"Label3(2)"_s)->text(), u"(金)"_s);
        QCOMPARE(lines(list(screen, 1)), (QStringList{u"08時 --- 佐藤 #2"_s, u"10時 --- 鈴木 #1"_s}));
        QCOMPARE(lines(list(screen, 2)), QStringList{u"09時 --- 田中 #3"_s});

        auto *month = screen.findChild<QComboBox *>(u"Combo1(1)"_s);
        month->setCurrentText(u"11"_s);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(month, &out);
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 十一月 #5"_s});
        QCOMPARE(screen.findChild<QLabel *>(u"Label3(2)"_s)->text(), u"(月)"_s);
        // A month typed without its leading zero names no stored day.
        month->setCurrentText(u"1"_s);
        QCoreApplication::sendEvent(month, &out);
        QCOMPARE(list(screen, 1)->count(), 0);
    }

    void movesWriteTheFlagOfTheChosenLine_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("chosen1"); // reservation chosen in List1 (0: none)
        QTest::addColumn<int>("chosen2");
        QTest::addColumn<QString>("flags"); // CFLG by reservation number afterwards
        QTest::newRow("⇔ with a line in each list") << u"⇔"_s << 1 << 2 << u"10001"_s;
        QTest::newRow("⇔ with nothing selected") << u"⇔"_s << 0 << 0 << u"01001"_s;
        QTest::newRow("⇔ on the second of two same names") << u"⇔"_s << 4 << 0 << u"01011"_s;
        QTest::newRow("drop on List2") << u"List2"_s << 1 << 0 << u"11001"_s;
        QTest::newRow("drop on List1") << u"List1"_s << 0 << 2 << u"00001"_s;
        QTest::newRow("drop on List2, nothing selected") << u"List2"_s << 0 << 0 << u"01001"_s;
        QTest::newRow("drop on List1, nothing selected") << u"List1"_s << 0 << 0 << u"01001"_s;
    }

    void movesWriteTheFlagOfTheChosenLine()
    {
        QFETCH(QString, action);
        QFETCH(int, chosen1);
        QFETCH(int, chosen2);
        QFETCH(QString, flags);
        Workspace ws;
        const QStringList booked = {u"08時 --- 佐藤"_s, u"09時 --- 田中"_s, u"10時 --- 山田太郎"_s, u"10時 --- 山田太郎"_s,
                                    u"11時 --- 鈴木"_s};
        for (int i = 0; i < booked.size(); ++i) {
            ws.addReservation(Today, booked[i].left(2), booked[i].mid(8), i == 1 || i == 4 ? 1 : 0);
        }
        VisitScreen screen(*ws.state);
        choose(list(screen, 1), chosen1);
        choose(list(screen, 2), chosen2);
        if (action == u"⇔"_s) {
            screen.findChild<QPushButton *>(u"Command1"_s)->click();
        } else if (action == u"List1"_s) {
            screen.List1_DragDrop();
        } else {
            screen.List2_DragDrop();
        }
        QCOMPARE(::flags(ws), flags);
        QStringList waiting, came;
        for (int i = 0; i < booked.size(); ++i) {
            (flags[i] == u'0' ? waiting : came) << u"%1 #%2"_s.arg(booked[i]).arg(i + 1);
        }
        // The two lines of the same name and hour may come in either order.
        const auto shown = [&](int n) {
            QStringList out = lines(list(screen, n));
            out.sort();
            return out;
        };
        QCOMPARE(shown(1), waiting);
        QCOMPARE(shown(2), came);
        // No neighbour is left chosen for the next move, and 手動更新 reads the same back.
        QVERIFY(list(screen, 1)->selectedItems().isEmpty() && list(screen, 2)->selectedItems().isEmpty());
        screen.findChild<QPushButton *>(u"Command3"_s)->click();
        QCOMPARE(shown(1), waiting);
        QCOMPARE(shown(2), came);
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
        QCOMPARE(flags(ws), u"0"_s);
        QVERIFY(ws.dialogs.messages.isEmpty());
        screen.Timer1_Timer();
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 鈴木 #1"_s});
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

    void automaticRefreshSwitchesAndStopsAfterAFailedTick()
    {
        Workspace ws;
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        TimerWatchingDialogs dialogs;
        qrb::ProgramState state{ws.folder(), ws.state->config, ws.db, ws.clock, dialogs, ws.viewer};
        VisitScreen screen(state);
        auto *timer = screen.findChild<QTimer *>(u"Timer1"_s);
        auto *manual = screen.findChild<QPushButton *>(u"Command3"_s);
        dialogs.timer = timer;
        QCOMPARE(timer->interval(), 10000);
        QVERIFY(!timer->isActive() && manual->isEnabled());
        QVERIFY(screen.findChild<QRadioButton *>(u"Option1(1)"_s)->isChecked());
        screen.findChild<QRadioButton *>(u"Option1(0)"_s)->click();
        QVERIFY(timer->isActive() && !manual->isEnabled());
        screen.findChild<QRadioButton *>(u"Option1(1)"_s)->click();
        QVERIFY(!timer->isActive() && manual->isEnabled());

        screen.findChild<QRadioButton *>(u"Option1(0)"_s)->click();
        ws.db.DB_close();
        screen.Timer1_Timer();
        QCOMPARE(dialogs.texts.size(), 1);
        QCOMPARE(dialogs.timerRunning, QList<bool>{false});
        QVERIFY(screen.findChild<QRadioButton *>(u"Option1(1)"_s)->isChecked());
        QVERIFY(manual->isEnabled());
        // The lines stay as last read, not emptied by the failed read.
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 佐藤 #1"_s});
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
        QCOMPARE(lines(list(screen, 1)), QStringList{u"08時 --- 佐藤 #1"_s});
        QCOMPARE(list(screen, 2)->count(), 0);
    }
};

QTEST_MAIN(VisitScreenTest)
#include "tst_visitscreen.moc"
