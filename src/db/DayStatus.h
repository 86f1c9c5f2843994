#pragma once

#include <QDate>
#include <QList>
#include <QString>

namespace qrb {

class Database;

// The counts of one day (or, summed, of a month), as the status screen and the reports show them.
// Wider than 16 bits: a month of places easily passes 32767 (31 days × 10 slots × 110 places).
struct DayCounts {
    qint64 reserved = 0;   // every reservation, come or not
    qint64 visited = 0;    // CFLG 1
    qint64 notVisited = 0; // CFLG 0
    qint64 places = 0;     // places offered on the day's weekday; 0 where SETTING has no row for it
};

DayCounts dayCounts(Database &db, QDate day);

struct SlotName {
    QString ytime;
    QString knm;
};

// The names booked on a day, by hour and in order of entry; only those not yet come unless
// `withVisited`.
QList<SlotName> namesOfDay(Database &db, QDate day, bool withVisited);

} // namespace qrb
