#include "screens/status/MonthView.h"
#include "screens/status/StatusScreen.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QCalendarWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace qrb::test;
using qrb::StatusScreen;

namespace {

// 2009/10/09, the workspace's today, is a Friday (weekday 5).
const QString Today = u"2009/10/09"_s;

QStringList column(const StatusScreen &screen, int c)
{
    auto *list = control<QTableWidget>(&screen, u"ListView1"_s);
    QStringList names;
    for (int row = 0; row < list->rowCount(); ++row) {
        if (!list->item(row, c)->text().isEmpty()) {
            names << list->item(row, c)->text();
        }
    }
    return names;
}

QString statsLine(const StatusScreen &screen)
{
    return shows(&screen, {u"Label2"_s}).constFirst();
}

// A click on a day of the calendar showing its month. The days of the neighbouring months on a page are
// all above 21 at its top and below 15 at its bottom, so a small day is searched from the top.
void clickDay(const StatusScreen &screen, QDate day)
{
    for (auto *calendar : control<qrb::MonthView>(&screen, u"MonthView1"_s)->findChildren<QCalendarWidget *>()) {
        if (calendar->monthShown() != day.month()) {
            continue;
        }
        auto *cells = calendar->findChild<QTableView *>();
        const int rows = cells->model()->rowCount();
        for (int i = 0; i < rows * 7; ++i) {
            const int row = day.day() < 15 ? i / 7 : rows - 1 - i / 7;
            const QModelIndex cell = cells->model()->index(row, i % 7);
            if (cell.data().toString() == QString::number(day.day())) {
                QTest::mouseClick(cells->viewport(), Qt::LeftButton, {}, cells->visualRect(cell).center());
                return;
            }
        }
    }
    QFAIL("no such day shown");
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
        QTest::newRow("weekday without rows")
            << -1 << 1 << 0
            << u"■予約者数：1人   来院者数：0人   未来院者数：1人    摂取可能人数：0人　　\r\n◆予約率：***%    来院率：***%"_s;
    }

    void statistics()
    {
        QFETCH(int, places);
        QFETCH(int, waiting);
        QFETCH(int, came);
        QFETCH(QString, expected);
        Workspace ws(0);
        if (places < 0) {
            ws.db.write(u"DELETE FROM SETTING WHERE SWEEKDAY = 5"_s);
        } else {
            ws.db.write(u"UPDATE SETTING SET NINZU = ? WHERE SWEEKDAY = 5 AND STIME = '10'"_s, {places});
        }
        for (int i = 0; i < waiting + came; ++i) {
            ws.addReservation(Today, i < waiting ? u"08"_s : u"09"_s, u"患者%1"_s.arg(i), i < waiting ? 0 : 1);
        }
        ws.addReservation(u"2009/10/10"_s, u"10"_s, u"翌日"_s);
        StatusScreen screen(*ws.state);
        QCOMPARE(statsLine(screen), expected);
    }

    // Names stand under their hours, with at least thirty numbered rows; "非表示" lists only those still
    // waiting while the statistics count everybody.
    void namesUnderTheirHours()
    {
        Workspace ws;
        for (int i = 1; i <= 31; ++i) {
            ws.addReservation(Today, u"09"_s, u"患者%1"_s.arg(i));
        }
        ws.addReservation(Today, u"10"_s, u"鈴木"_s);
        ws.addReservation(Today, u"10"_s, u"田中"_s, 1);
        ws.addReservation(Today, u"17"_s, u"山田"_s);
        ws.addReservation(Today, u"8"_s, u"一桁"_s); // counted, but under no hour
        StatusScreen screen(*ws.state);
        showActive(&screen);
        auto *list = control<QTableWidget>(&screen, u"ListView1"_s);
        QCOMPARE(list->rowCount(), 31);
        QCOMPARE(list->item(30, 0)->text(), u"31"_s);
        QCOMPARE(list->item(30, 2)->text(), u"患者31"_s);
        QCOMPARE(column(screen, 3), (QStringList{u"鈴木"_s, u"田中"_s}));
        QCOMPARE(column(screen, 10), QStringList{u"山田"_s});
        QCOMPARE(column(screen, 1), QStringList{});
        QVERIFY(statsLine(screen).startsWith(u"■予約者数：35人"_s));
        click(&screen, u"Option2(1)"_s);
        QCOMPARE(column(screen, 3), QStringList{u"鈴木"_s});
        QVERIFY(statsLine(screen).startsWith(u"■予約者数：35人   来院者数：1人"_s));
    }

    // A click on a day shows it, a click on the day already selected reads it again, and so do
    // 手動更新 and the timer's tick, until a failed tick stops it.
    void clickingADayOrRefreshingReadsIt()
    {
        Workspace ws;
        StatusScreen screen(*ws.state);
        showActive(&screen);
        QCOMPARE(shows(&screen, {u"Label1"_s}), QStringList{u"2009/10/09選択中！"_s});
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"佐藤"_s);
        clickDay(screen, QDate(2009, 12, 1));
        QCOMPARE(control<qrb::MonthView>(&screen, u"MonthView1"_s)->selectedDate(), QDate(2009, 12, 1));
        QCOMPARE(shows(&screen, {u"Label1"_s}), QStringList{u"2009/12/01選択中！"_s});
        QCOMPARE(column(screen, 1), QStringList{u"佐藤"_s});
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"鈴木"_s);
        clickDay(screen, QDate(2009, 12, 1));
        QCOMPARE(column(screen, 1), (QStringList{u"佐藤"_s, u"鈴木"_s}));
        QVERIFY(statsLine(screen).startsWith(u"■予約者数：2人"_s));

        auto *timer = screen.findChild<QTimer *>(u"Timer1"_s);
        QCOMPARE(timer->interval(), 10000);
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"田中"_s);
        click(&screen, u"Command1"_s);
        QVERIFY(statsLine(screen).startsWith(u"■予約者数：3人"_s));
        click(&screen, u"Option1(0)"_s);
        QVERIFY(timer->isActive() && !control(&screen, u"Command1"_s)->isEnabled());
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"伊藤"_s);
        screen.Timer1_Timer();
        QVERIFY(statsLine(screen).startsWith(u"■予約者数：4人"_s));
        ws.db.DB_close();
        screen.Timer1_Timer();
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(!timer->isActive() && control(&screen, u"Command1"_s)->isEnabled());
        QCOMPARE(shows(&screen, {u"Option1(1)"_s}), QStringList{u"on"_s});
    }
};

QTEST_MAIN(StatusScreenTest)
#include "tst_statusscreen.moc"
