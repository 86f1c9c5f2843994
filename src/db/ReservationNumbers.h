#pragma once

#include <QString>

namespace qrb {

class Database;

// A reservation number names one reservation forever: the history, the web's cancel codes and every
// screen find a reservation by it. QRB keeps the highest number it has ever handed out in QRB_YNO
// (one row, LAST), so that a number freed by a cancel or a deletion is never handed out again.

// Makes QRB_YNO in a new database, or in one made before it existed, seeded with the largest number
// in YOYAKU or in the history (which remembers the numbers of reservations already cancelled). Needs
// the write lock the caller holds.
void createReservationCounter(Database &db);

// Gives an open database made before the counter existed its QRB_YNO. Two workstations opening it at
// once make it once.
void ensureReservationCounter(Database &db);

// The highest number the database has handed out or holds: rows written by other programs, imports
// and restores count as well as the counter.
qint64 highestReservationNumber(Database &db);

// Draws the next reservation number, one above highestReservationNumber, and records it as handed out.
// Only inside a Database::WriteTransaction, in the one that adds the row, so that no other workstation
// draws it meanwhile and a booking undone gives its number back only with everything else. Throws
// DbError once the 32-bit numbers are used up.
int drawReservationNumber(Database &db);

// A restore puts an older file back, whose counter stopped where the backup was taken: `restored` (the
// copy about to replace the file, open in a write transaction) is made to go on above every number the
// SQLite file `replaced` has handed out. `replaced` is locked against every QRB by the restore, so it
// is read on a connection of its own. Throws DbError when that file cannot be read: restoring without
// knowing its numbers could hand one out twice.
void carryReservationNumbersForward(Database &restored, const QString &replaced);

} // namespace qrb
