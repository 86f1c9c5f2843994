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

// A click on the first day of a month the calendar shows: the "1" nearest the top of its page, as the
// neighbouring month's days there are all above 21.
void clickFirstDay(const StatusScreen &screen, int month)
{
    for (auto *calendar : control<qrb::MonthView>(&screen, u"MonthView1"_s)->findChildren<QCalendarWidget *>()) {
        auto *cells = calendar->findChild<QTableView *>();
        for (int i = 0; i < 42 && calendar->monthShown() == month; ++i) {
            const QModelIndex cell = cells->model()->index(i / 7, i % 7);
            if (cell.data().toString() == u"1"_s) {
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
        QCOMPARE(shows(&screen, {u"Label2"_s}), QStringList{stats});
        click(&screen, u"Option2(1)"_s);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 3), QStringList{u"鈴木"_s});
        QCOMPARE(shows(&screen, {u"Label2"_s}), QStringList{stats});
    }

    // A click on a day shows it, a click on the day already selected reads it again, and so does
    // 手動更新. A weekday without places has no rates.
    void clickingADayOrRefreshingReadsIt()
    {
        Workspace ws;
        ws.db.write(u"DELETE FROM SETTING WHERE SWEEKDAY = 2"_s);
        StatusScreen screen(*ws.state);
        showActive(&screen);
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"佐藤"_s);
        clickFirstDay(screen, 12);
        QCOMPARE(shows(&screen, {u"Label1"_s}), QStringList{u"2009/12/01選択中！"_s});
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 1), QStringList{u"佐藤"_s});
        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"鈴木"_s);
        clickFirstDay(screen, 12);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 1), (QStringList{u"佐藤"_s, u"鈴木"_s}));
        QCOMPARE(shows(&screen, {u"Label2"_s}).constFirst(),
                 u"■予約者数：2人   来院者数：0人   未来院者数：2人    摂取可能人数：0人　　\r\n"
                 u"◆予約率：***%    来院率：***%"_s);

        ws.addReservation(u"2009/12/01"_s, u"08"_s, u"田中"_s);
        click(&screen, u"Command1"_s);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 1).size(), 3);
    }
};

QTEST_MAIN(StatusScreenTest)
#include "tst_statusscreen.moc"
