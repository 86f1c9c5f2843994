#include "StatusTexts.h"

#include "db/DayStatus.h"
#include "shared/Dates.h"
#include "shared/Text.h"

using namespace Qt::StringLiterals;

namespace qrb {

QString selectedDayText(QDate day)
{
    return dateKey(day) + u"選択中！"_s;
}

QString statusText(const DayCounts &c)
{
    const QString first = u"■予約者数："_s + QString::number(c.reserved) + u"人   来院者数："_s
                          + QString::number(c.visited) + u"人   未来院者数："_s + QString::number(c.notVisited)
                          + u"人    摂取可能人数："_s + QString::number(c.places) + u"人　　"_s;
    // Without places there is no rate at all; without reservations no visit rate.
    QString second;
    if (c.places == 0) {
        second = u"◆予約率：***%    来院率：***%"_s;
    } else if (c.reserved == 0) {
        second = u"◆予約率："_s + pct(0, c.places) + u"    来院率：***%"_s;
    } else {
        second = u"◆予約率："_s + pct(c.reserved, c.places) + u"    来院率："_s
                 + pct(c.reserved - c.notVisited, c.reserved);
    }
    return first + u"\r\n"_s + second;
}

QList<QStringList> namesBySlot(const QList<SlotName> &names)
{
    QList<QStringList> columns(SlotCount);
    for (const SlotName &name : names) {
        for (int slot = 0; slot < SlotCount; ++slot) {
            if (name.ytime == slotKey(slot)) {
                columns[slot] << oneLine(name.knm); // one line a cell, whatever was stored
                break;
            }
        }
    }
    return columns;
}

} // namespace qrb
