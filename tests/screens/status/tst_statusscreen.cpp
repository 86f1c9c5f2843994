#include "screens/status/MonthView.h"
#include "screens/status/StatusScreen.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QCalendarWidget>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb::test;
using qrb::StatusScreen;

namespace {

// 2009/10/09, the workspace's today, is a Friday (weekday 5).
const QString Today = u"2009/10/09"_s;

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
    // Names of the day stand under their hours, with at least thirty numbered rows; "非表示" lists only
    // those still waiting while the statistics count everybody, rates rounded to a tenth.
    void namesUnderTheirHours()
    {
        Workspace ws;
        ws.db.write(u"UPDATE SETTING SET NINZU = 40 WHERE SWEEKDAY = 5 AND STIME = '10'"_s);
        ws.addReservation(u"2009/10/10"_s, u"10"_s, u"翌日"_s);
        for (int i = 1; i <= 31; ++i) {
            ws.addReservation(Today, u"09"_s, u"患者%1"_s.arg(i));
        }
        ws.addReservation(Today, u"10"_s, u"鈴木"_s);
        ws.addReservation(Today, u"10"_s, u"田中"_s, 1);
        ws.addReservation(Today, u"17"_s, u"山田"_s);
        ws.addReservation(Today, u"8"_s, u"一桁"_s); // counted, but under no hour
        StatusScreen screen(*ws.state);
        showActive(&screen);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 0).size(), 31);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 2).mid(29), (QStringList{u"患者30"_s, u"患者31"_s}));
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 3), (QStringList{u"鈴木"_s, u"田中"_s}));
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 10), QStringList{u"山田"_s});
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 1), QStringList{});
        const QString stats = u"■予約者数：35人   来院者数：1人   未来院者数：34人    摂取可能人数：40人　　\r\n"
                              u"◆予約率：87.5%    来院率：2.9%"_s;
        QCOMPARE(statsLine(screen), stats);
        click(&screen, u"Option2(1)"_s);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 3), QStringList{u"鈴木"_s});
        QCOMPARE(statsLine(screen), stats);
    }

    // A click on a day shows it, a click on the day already selected reads it again, and so do
    // 手動更新 and the timer's tick. A weekday without places has no rates.
    void clickingADayOrRefreshingReadsIt()
    {
        Workspace ws;
        ws.db.write(u"DELETE FROM SETTING WHERE SWEEKDAY = 2"_s);
        StatusScreen screen(*ws.state);
        showActive(&screen);
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"佐藤"_s);
        clickDay(screen, QDate(2009, 12, 1));
        QCOMPARE(control<qrb::MonthView>(&screen, u"MonthView1"_s)->selectedDate(), QDate(2009, 12, 1));
        QCOMPARE(shows(&screen, {u"Label1"_s}), QStringList{u"2009/12/01選択中！"_s});
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 1), QStringList{u"佐藤"_s});
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"鈴木"_s);
        clickDay(screen, QDate(2009, 12, 1));
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 1), (QStringList{u"佐藤"_s, u"鈴木"_s}));
        QCOMPARE(statsLine(screen), u"■予約者数：2人   来院者数：0人   未来院者数：2人    摂取可能人数：0人　　\r\n"
                                    u"◆予約率：***%    来院率：***%"_s);

        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"田中"_s);
        click(&screen, u"Command1"_s);
        QVERIFY(statsLine(screen).startsWith(u"■予約者数：3人"_s));
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"伊藤"_s);
        screen.Timer1_Timer();
        QVERIFY(statsLine(screen).startsWith(u"■予約者数：4人"_s));
    }
};

QTEST_MAIN(StatusScreenTest)
#include "tst_statusscreen.moc"
