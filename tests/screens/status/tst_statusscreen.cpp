#include "screens/status/MonthView.h"
#include "screens/status/StatusScreen.h"
#include "support/Workspace.h"

#include <QCalendarWidget>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using qrb::StatusScreen;
using qrb::test::Workspace;

namespace {

// 2009/10/09, the workspace's today, is a Friday (weekday 5).
const QString Today = u"2009/10/09"_s;

QStringList column(const QTableWidget *list, int c)
{
    QStringList names;
    for (int row = 0; row < list->rowCount(); ++row) {
        if (!list->item(row, c)->text().isEmpty()) {
            names << list->item(row, c)->text();
        }
    }
    return names;
}

} // namespace

class StatusScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void statistics_data()
    {
        QTest::addColumn<int>("places"); // on Friday 10:00; -1: Friday has no SETTING rows at all
        QTest::addColumn<int>("waiting");
        QTest::addColumn<int>("came");
        QTest::addColumn<QString>("expected");
        QTest::newRow("R=3 C=4 M=1") << 4 << 1 << 2
                                     << u"■予約者数：3人   来院者数：2人   未来院者数：1人    摂取可能人数：4人　　\r\n"
                                        u"◆予約率：75.0%    来院率：66.7%"_s;
        QTest::newRow("no places although booked")
            << 0 << 2 << 1
            << u"■予約者数：3人   来院者数：1人   未来院者数：2人    摂取可能人数：0人　　\r\n◆予約率：***%    来院率：***%"_s;
        QTest::newRow("weekday without rows")
            << -1 << 1 << 0
            << u"■予約者数：1人   来院者数：0人   未来院者数：1人    摂取可能人数：0人　　\r\n◆予約率：***%    来院率：***%"_s;
        QTest::newRow("nobody booked")
            << 10 << 0 << 0
            << u"■予約者数：0人   来院者数：0人   未来院者数：0人    摂取可能人数：10人　　\r\n◆予約率：0.0%    来院率：***%"_s;
        QTest::newRow("overbooked")
            << 10 << 12 << 0
            << u"■予約者数：12人   来院者数：0人   未来院者数：12人    摂取可能人数：10人　　\r\n◆予約率：120.0%    来院率：0.0%"_s;
    }

    void statistics()
    {
        QFETCH(int, places);
        QFETCH(int, waiting);
        QFETCH(int, came);
        QFETCH(QString, expected);
        Workspace ws(5);
        if (places < 0) {
            ws.db.write(u"DELETE FROM SETTING WHERE SWEEKDAY = 5"_s);
        } else {
            ws.db.write(u"UPDATE SETTING SET NINZU = 0"_s);
            ws.db.write(u"UPDATE SETTING SET NINZU = ? WHERE SWEEKDAY = 5 AND STIME = '10'"_s, {places});
        }
        for (int i = 0; i < waiting + came; ++i) {
            ws.addReservation(Today, i < waiting ? u"08"_s : u"09"_s, u"患者%1"_s.arg(i), i < waiting ? 0 : 1);
        }
        ws.addReservation(u"2009/10/10"_s, u"10"_s, u"翌日"_s);
        StatusScreen screen(*ws.state);
        QCOMPARE(screen.findChild<QLabel *>(u"Label2"_s)->text(), expected);
    }

    void everyNameHasARowAndTheHeadersStay_data()
    {
        QTest::addColumn<int>("names");
        QTest::addColumn<int>("rows");
        QTest::newRow("empty day: thirty numbered rows") << 0 << 30;
        QTest::newRow("31 names in one hour") << 31 << 31;
    }

    void everyNameHasARowAndTheHeadersStay()
    {
        QFETCH(int, names);
        QFETCH(int, rows);
        Workspace ws;
        for (int i = 1; i <= names; ++i) {
            ws.addReservation(Today, u"09"_s, u"患者%1"_s.arg(i));
        }
        StatusScreen screen(*ws.state);
        auto *list = screen.findChild<QTableWidget *>(u"ListView1"_s);
        QCOMPARE(list->columnCount(), 11);
        QCOMPARE(list->horizontalHeaderItem(0)->text(), QString());
        QCOMPARE(list->horizontalHeaderItem(1)->text(), u"08:00～09:00"_s);
        QCOMPARE(list->horizontalHeaderItem(10)->text(), u"17:00～18:00"_s);
        QCOMPARE(list->rowCount(), rows);
        QCOMPARE(list->item(0, 0)->text(), u"1"_s);
        QCOMPARE(list->item(rows - 1, 0)->text(), QString::number(rows));
        QCOMPARE(column(list, 2).size(), names);
        if (names > 0) {
            QCOMPARE(list->item(30, 2)->text(), u"患者31"_s);
        }
    }

    // "非表示" lists only those still waiting; the statistics count everybody either way.
    void namesUnderTheirHours()
    {
        Workspace ws;
        ws.addReservation(Today, u"10"_s, u"鈴木"_s);
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        ws.addReservation(Today, u"10"_s, u"田中"_s, 1);
        ws.addReservation(Today, u"17"_s, u"山田"_s);
        ws.addReservation(Today, u"18"_s, u"時間外"_s);
        ws.addReservation(Today, u"8"_s, u"一桁"_s);
        StatusScreen screen(*ws.state);
        auto *list = screen.findChild<QTableWidget *>(u"ListView1"_s);
        QCOMPARE(column(list, 1), QStringList{u"佐藤"_s});
        QCOMPARE(column(list, 3), (QStringList{u"鈴木"_s, u"田中"_s}));
        QCOMPARE(column(list, 10), QStringList{u"山田"_s});
        // Booked at no slot's hour: counted, but under no hour.
        QVERIFY(screen.findChild<QLabel *>(u"Label2"_s)->text().startsWith(u"■予約者数：6人"_s));
        int placed = 0;
        for (int c = 1; c <= 10; ++c) {
            placed += static_cast<int>(column(list, c).size());
        }
        QCOMPARE(placed, 4);
        screen.findChild<QRadioButton *>(u"Option2(1)"_s)->click();
        QCOMPARE(column(list, 3), QStringList{u"鈴木"_s});
        QVERIFY(screen.findChild<QLabel *>(u"Label2"_s)->text().startsWith(u"■予約者数：6人   来院者数：1人"_s));
        screen.findChild<QRadioButton *>(u"Option2(0)"_s)->click();
        QCOMPARE(column(list, 3), (QStringList{u"鈴木"_s, u"田中"_s}));
    }

    void choosingADayShowsIt()
    {
        Workspace ws;
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"佐藤"_s);
        StatusScreen screen(*ws.state);
        QCOMPARE(screen.windowTitle(), u"予約状況"_s);
        QCOMPARE(screen.findChild<QLabel *>(u"Label1"_s)->text(), u"2009/10/09選択中！"_s);
        auto *view = screen.findChild<qrb::MonthView *>(u"MonthView1"_s);
        QCOMPARE(view->firstMonth(), QDate(2009, 10, 1));
        // The third of the three months shown is December.
        view->findChildren<QCalendarWidget *>().at(2)->setSelectedDate(QDate(2009, 12, 1));
        QCOMPARE(view->selectedDate(), QDate(2009, 12, 1));
        QCOMPARE(screen.findChild<QLabel *>(u"Label1"_s)->text(), u"2009/12/01選択中！"_s);
        QCOMPARE(column(screen.findChild<QTableWidget *>(u"ListView1"_s), 1), QStringList{u"佐藤"_s});
        // Only December's calendar shows the selection.
        QCOMPARE(view->findChildren<QCalendarWidget *>().at(0)->selectedDate().month() == 12, false);
    }

    void refreshReadsCountsAndNames_data()
    {
        QTest::addColumn<bool>("byTimer");
        QTest::newRow("tick") << true;
        QTest::newRow("手動更新") << false;
    }

    void refreshReadsCountsAndNames()
    {
        QFETCH(bool, byTimer);
        Workspace ws;
        StatusScreen screen(*ws.state);
        ws.addReservation(Today, u"08"_s, u"佐藤"_s);
        if (byTimer) {
            screen.Timer1_Timer();
        } else {
            screen.findChild<QPushButton *>(u"Command1"_s)->click();
        }
        QCOMPARE(column(screen.findChild<QTableWidget *>(u"ListView1"_s), 1), QStringList{u"佐藤"_s});
        QVERIFY(screen.findChild<QLabel *>(u"Label2"_s)->text().startsWith(u"■予約者数：1人"_s));
    }

    void automaticRefreshSwitchesAndStopsAfterAFailedTick()
    {
        Workspace ws;
        StatusScreen screen(*ws.state);
        auto *timer = screen.findChild<QTimer *>(u"Timer1"_s);
        auto *manual = screen.findChild<QPushButton *>(u"Command1"_s);
        QCOMPARE(timer->interval(), 10000);
        QVERIFY(!timer->isActive());
        QVERIFY(manual->isEnabled());
        QVERIFY(screen.findChild<QRadioButton *>(u"Option2(0)"_s)->isChecked());
        screen.findChild<QRadioButton *>(u"Option1(0)"_s)->click();
        QVERIFY(timer->isActive());
        QVERIFY(!manual->isEnabled());

        ws.db.DB_close();
        screen.Timer1_Timer();
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(!timer->isActive());
        QVERIFY(manual->isEnabled());
        QVERIFY(screen.findChild<QRadioButton *>(u"Option1(1)"_s)->isChecked());
    }
};

QTEST_MAIN(StatusScreenTest)
#include "tst_statusscreen.moc"
