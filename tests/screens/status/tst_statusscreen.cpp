#include "screens/common/ClosedDayLook.h"
#include "screens/entry/EntryScreen.h"
#include "screens/status/MonthView.h"
#include "screens/status/StatusScreen.h"
#include "support/Common.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QHelpEvent>
#include <QTableView>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

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

// What the user meets at a cell: the tooltip when resting the mouse on it, and its colour beside the
// ordinary cell below it.
void expectMark(QWidget *viewport, QRect cell, const QString &toolTip)
{
    QHelpEvent help(QEvent::ToolTip, cell.center(), viewport->mapToGlobal(cell.center()));
    QApplication::sendEvent(viewport, &help);
    QTRY_COMPARE(QToolTip::text(), toolTip);
    const QImage seen = viewport->grab().toImage();
    QCOMPARE(seen.pixelColor(cell.topLeft() + QPoint(2, 2)), qrb::ClosedDayGround);
    QVERIFY(seen.pixelColor(cell.bottomLeft() + QPoint(2, 4)) != qrb::ClosedDayGround);
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
        ws.addReservation(Today, u"17"_s, u"山田\n太郎"_s); // one line a cell, whatever was stored
        ws.addReservation(Today, u"8"_s, u"一桁"_s); // counted, but under no hour
        StatusScreen screen(*ws.state);
        showActive(&screen);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 0).size(), 31);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 2).mid(29), (QStringList{u"患者30"_s, u"患者31"_s}));
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 3), (QStringList{u"鈴木"_s, u"田中"_s}));
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 10), QStringList{u"山田 太郎"_s});
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 1), QStringList{});
        const QString stats = u"■予約者数：35人   来院者数：1人   未来院者数：34人    摂取可能人数：40人　　\r\n"
                              u"◆予約率：87.5%    来院率：2.9%"_s;
        QCOMPARE(shows(&screen, {u"Label2"_s}), QStringList{stats});
        click(&screen, u"Option2(1)"_s);
        QCOMPARE(linesOf(&screen, u"ListView1"_s, 3), QStringList{u"鈴木"_s});
        QCOMPARE(shows(&screen, {u"Label2"_s}), QStringList{stats});
        // Tab and Shift+Tab leave the list, as they leave any other control.
        QWidget *list = control(&screen, u"ListView1"_s);
        for (const Qt::KeyboardModifiers shift : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
            list->setFocus(Qt::MouseFocusReason);
            QTest::keyClick(list, Qt::Key_Tab, shift);
            QVERIFY(QApplication::focusWidget() != list);
        }
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

    // Today is Friday 2009/10/09; 10/12 is 体育の日 and the clinic closes on 10/20 as well.
    void closedDaysAreMarkedAtTheDesk()
    {
        Workspace clinic(5);
        QVERIFY(writeFileBytes(clinic.folder() + u"/setting.ini"_s, "[CLOSED]\r\nA=2009/10/20\r\n"));
        clinic.state->config.CLOSED = qrb::ClosedDays::read(clinic.folder());

        qrb::EntryScreen entry(*clinic.state);
        showActive(&entry);
        auto *grid = entry.findChild<QTreeWidget *>(u"ListView1"_s);
        expectMark(grid->viewport(), grid->visualRect(grid->model()->index(3, 0)), u"休診日（体育の日）"_s);
        expectMark(grid->viewport(), grid->visualRect(grid->model()->index(11, 0)), u"休診日（A）"_s);
        typeInto(control(&entry, u"Combo1(2)"_s), u"12"_s);
        QCOMPARE(shows(&entry, {u"ClosedNote1"_s}), QStringList{u"休診日（体育の日）"_s});
        click(&entry, u"Option3(1)"_s);
        // The second dose is proposed a month on; typed back to the 20th of October.
        typeInto(control(&entry, u"Combo2(1)"_s), u"10"_s);
        typeInto(control(&entry, u"Combo2(2)"_s), u"20"_s);
        QCOMPARE(shows(&entry, {u"ClosedNote2"_s}), QStringList{u"休診日（A）"_s});
        typeInto(control(&entry, u"Combo1(2)"_s), u"13"_s);
        QCOMPARE(shows(&entry, {u"ClosedNote1"_s}), QStringList{QString()});

        StatusScreen status(*clinic.state);
        showActive(&status);
        // The first of the three months is October, today's.
        auto *october = status.findChildren<QCalendarWidget *>().first()->findChild<QTableView *>();
        const auto cellOf = [october](int day) {
            QModelIndexList found;
            for (int column = 0; column < 7 && found.isEmpty(); ++column) {
                found = october->model()->match(october->model()->index(1, column), Qt::DisplayRole, day);
            }
            return october->visualRect(found.value(0));
        };
        expectMark(october->viewport(), cellOf(12), u"体育の日"_s);
        expectMark(october->viewport(), cellOf(20), u"休診日"_s);
    }
};

QTEST_MAIN(StatusScreenTest)
#include "tst_statusscreen.moc"
