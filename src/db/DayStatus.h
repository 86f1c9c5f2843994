#pragma once

#include <QDate>
#include <QList>
#include <QString>

namespace qrb {

class Database;

// The counts of one day beside the status calendar.
struct DayCounts {
    int reservations = 0;  // every reservation of the day
    int visited = 0;       // CFLG 1
    int notYetVisited = 0; // CFLG 0
    int places = 0;        // places offered on the day's weekday; 0 where SETTING has no row for it
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
