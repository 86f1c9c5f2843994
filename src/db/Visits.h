#pragma once

#include "Reservation.h"

#include <QList>
#include <QString>

#include <optional>

namespace qrb {

class Database;

// What a line of the visit record lists needs of one reservation.
struct VisitEntry {
    int yno = 0;
    QString ytime;
    QString knm; // empty when the name is Null
};

// The reservations of one day with the given visit flag (0 not yet come, 1 came), by hour and in order
// of entry.
QList<VisitEntry> reservationsOfDayByVisit(Database &db, const QString &dateKey, int cflg);

// Sets the visit flag of the reservation `yno`, provided it still is the one of that day, hour and name
// the line showed. False when it is gone or was changed meanwhile at another workstation: then
// nothing is written.
bool setVisitFlag(Database &db, const VisitEntry &entry, const QString &dateKey, int cflg);

// The whole reservation a line stands for (by its number, while it still is of that day, hour and
// name), or nothing when it no longer exists.
std::optional<Reservation> reservationOfEntry(Database &db, const VisitEntry &entry, const QString &dateKey);

} // namespace qrb
