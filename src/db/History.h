#pragma once

#include "Reservation.h"

#include <QList>
#include <QString>
#include <QVariantList>

#include <optional>

namespace qrb {

class CapacityTable;
class Database;

// The history of every change to reservations and capacities, in the table RIREKI: one row per change,
// written inside the write transaction of the change itself, so that neither exists without the other.
// Rows are only ever added; nothing in QRB changes or deletes them, and deleting reservations keeps
// their history, which is then the record of the deletion.

// What was done. The numbers are stored; never renumber them.
enum class HistoryKind {
    Registered = 1,      // a new reservation
    Overwritten = 2,     // the same name in the same slot booked again
    SecondDose = 3,      // the second dose of a 新型 pair, a reservation of its own
    Cancelled = 4,
    Arrived = 5,         // moved to the visited list
    NotArrived = 6,      // moved back to the not-yet-visited list
    CapacitiesSaved = 7, // the settings screen's places per weekday and slot
    AllDeleted = 8,      // every reservation deleted on the maintenance screen
    PeriodDeleted = 9,   // the reservations of a period deleted on the maintenance screen
    Compacted = 10,
    Restored = 11,       // the database put back from a backup
};

// "登録", "上書き", …: how the desk reads a kind.
QString historyKindName(HistoryKind kind);

// One row of RIREKI.
struct HistoryEntry {
    qint64 hno = 0;  // in the order of writing
    QString when;    // local time to the second, "YYYY/MM/DD HH:MM:SS"
    QString where;   // the workstation's host name and user, "web" and the client's address, or a tool's name
    HistoryKind kind = HistoryKind::Registered;
    std::optional<int> yno;
    QString kno;     // patient number, name, day and slot of the reservation concerned
    QString knm;
    QString ydate;
    QString ytime;
    std::optional<int> count; // reservations deleted at once
    QString first;   // the period deleted, "YYYY/MM/DD", both ends included
    QString last;
    QString before;  // the fields before and after the change, as a JSON object; "" where there is none
    QString after;
};

// Writers: each one adds the row for a change. They must run inside the WriteTransaction of the change,
// so that a change that is undone leaves no row behind.

// A reservation registered, overwritten, cancelled or marked: its fields before and after (either may
// be missing: a new one has no before, a cancelled one no after).
void recordReservationChange(Database &db, HistoryKind kind, const std::optional<Reservation> &before,
                             const std::optional<Reservation> &after);
// The places saved on the settings screen: the cells that changed, each before and after.
void recordCapacitiesSaved(Database &db, const CapacityTable &before, const CapacityTable &after);
// Reservations deleted on the maintenance screen: how many, and the period (empty for all of them).
void recordDeletion(Database &db, HistoryKind kind, int count, const QString &first = {}, const QString &last = {});
// The database put back from the backup `source` (its file name, or how the server's copy is known), with
// `count` reservations in it. Call it inside the WriteTransaction that completes the restore, on the
// restored database, after the rows written since the backup have been carried over.
void recordRestored(Database &db, const QString &source, int count);

// The row a compaction adds, with the given workstation. The statement and its values are for a
// connection of its own: a SQLite file is compacted into a copy while the Database is closed.
HistoryEntry compactionEntry(const QString &where);
QString historyInsertStatement();
QVariantList historyValues(const HistoryEntry &entry);

// The workstation's name for `where`: host name and user, "desk1 tanaka".
QString workstationName();

// Readers, newest first.
enum class HistoryKey {
    Day,               // the changes made on a day, "YYYY/MM/DD"
    ReservationNumber, // every change of one reservation
    PatientNumber,     // of every reservation of a patient number (letters in either case)
    Name,              // of the names beginning with the typed text ("*" and "?" as in the search)
};
QList<HistoryEntry> historyOf(Database &db, HistoryKey key, const QString &value);

} // namespace qrb
