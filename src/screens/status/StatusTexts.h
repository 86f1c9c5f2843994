#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace qrb {

struct DayCounts;
struct SlotName;

// "2009/10/09選択中！"
QString selectedDayText(QDate day);

// The two lines beside the calendar: the day's counts, then the reservation rate (reservations per
// place) and the visit rate (of the reservations, those no longer waiting).
QString statusText(const DayCounts &counts);

// The names of a day in ten columns, one per slot "08" … "17", each in the order given. A name booked
// at any other hour is in no column.
QList<QStringList> namesBySlot(const QList<SlotName> &names);

} // namespace qrb
