#include "screens/common/ClosedDayLook.h"
#include "screens/entry/EntryScreen.h"
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
using namespace qrb;

namespace {

// What the user meets at a cell: the tooltip when resting the mouse on it, and its colour beside the
// ordinary cell below it.
void expectMark(QWidget *viewport, QRect cell, const QString &toolTip)
{
    QHelpEvent help(QEvent::ToolTip, cell.center(), viewport->mapToGlobal(cell.center()));
    QApplication::sendEvent(viewport, &help);
    QTRY_COMPARE(QToolTip::text(), toolTip);
    const QImage seen = viewport->grab().toImage();
    QCOMPARE(seen.pixelColor(cell.topLeft() + QPoint(2, 2)), ClosedDayGround);
    QVERIFY(seen.pixelColor(cell.bottomLeft() + QPoint(2, 4)) != ClosedDayGround);
}

} // namespace

class ClosedDayMarksTest : public QObject
{
    Q_OBJECT

private slots:
    // Today is Friday 2009/10/09; 10/12 is 体育の日 and the clinic closes on 10/20 as well.
    void closedDaysAreMarkedAtTheDesk()
    {
        test::Workspace clinic(5);
        QVERIFY(test::writeFileBytes(clinic.folder() + u"/setting.ini"_s, "[CLOSED]\r\nA=2009/10/20\r\n"));
        clinic.state->config.CLOSED = ClosedDays::read(clinic.folder());

        EntryScreen entry(*clinic.state);
        test::showActive(&entry);
        auto *grid = entry.findChild<QTreeWidget *>(u"ListView1"_s);
        expectMark(grid->viewport(), grid->visualRect(grid->model()->index(3, 0)), u"体育の日"_s);
        expectMark(grid->viewport(), grid->visualRect(grid->model()->index(11, 0)), u"休診日"_s);
        test::typeInto(test::control(&entry, u"Combo1(2)"_s), u"12"_s);
        QCOMPARE(test::shows(&entry, {u"ClosedNote1"_s}), QStringList{u"休診日（体育の日）"_s});
        test::click(&entry, u"Option3(1)"_s);
        // The second dose is proposed a month on; typed back to the 20th of October.
        test::typeInto(test::control(&entry, u"Combo2(1)"_s), u"10"_s);
        test::typeInto(test::control(&entry, u"Combo2(2)"_s), u"20"_s);
        QCOMPARE(test::shows(&entry, {u"ClosedNote2"_s}), QStringList{u"休診日"_s});
        test::typeInto(test::control(&entry, u"Combo1(2)"_s), u"13"_s);
        QCOMPARE(test::shows(&entry, {u"ClosedNote1"_s}), QStringList{QString()});

        StatusScreen status(*clinic.state);
        test::showActive(&status);
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

QTEST_MAIN(ClosedDayMarksTest)
#include "tst_closeddaymarks.moc"
