#pragma once

#include "Reservation.h"
#include "shared/Dates.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace qrb {

class Database;

// Everything the entry screen stores for one slot: the patient's fields as typed and the codes the
// form chose. YNO, CFLG and Category are the store's business, not the caller's.
struct BookingRecord {
    QString kno;
    QString knm;
    QString kknm;
    QString ydate;           // "YYYY/MM/DD"
    QString ytime;           // "08" … "17"
    std::optional<int> bflg; // left unwritten when the era text is none of the known calendars
    QString birthday;
    QString tel1;
    QString tel2;
    int rflg = 0;
    int kflg = 0;
    QString biko;
    int sflg = 0;
    int scnt = 0;
    QString kmno;
    // The reservation the form loaded and is writing back: only that one may be overwritten, and only
    // while its number is still in this slot under this name (on one line); otherwise another desk has
    // cancelled or changed it meanwhile.
    std::optional<int> loadedYno;
};

struct StoredBooking {
    int yno = 0;
    bool added = false;   // false when the patient's earlier record of the slot was overwritten
    bool slotFull = false; // nothing was stored: a new record would have over-booked the slot
    bool loadedGone = false; // nothing was stored: the loaded reservation is no longer what the form shows
};

// What a booking that would take a place beyond the slot's capacity does.
enum class WhenFull {
    Refuse,   // store nothing and say so (slotFull), so that the desk can ask and try again
    Overbook, // store it: the receptionist has answered the over-booking question with OK
};

// What storing a name already booked in the slot does.
enum class SameName {
    Overwrite,  // the desk's rule: the same name in a slot is the same patient, her record is updated
    AddAnother, // the web's: a namesake's record is never touched, the new one is added beside it
};

// Stores a booking: a patient already booked under the same name in the same slot has that record
// overwritten (its YNO kept, the visit flag back to 0); otherwise a new record gets a number never
// handed out before (ReservationNumbers.h). The number is drawn, and the slot's places counted, inside
// the write transaction, so two
// workstations registering at the same moment never draw the same number, and neither can fill the
// last place unseen by the other. Overwriting takes no place and is never refused.
StoredBooking registerReservation(Database &db, const BookingRecord &record, WhenFull whenFull);
// The same inside a Database::WriteTransaction the caller holds and commits, so that several records
// (both doses of a pair, the web's cancel code) are stored together or not at all.
StoredBooking registerReservationInTransaction(Database &db, const BookingRecord &record, WhenFull whenFull,
                                               SameName sameName = SameName::Overwrite);

// Deletes the first record (lowest YNO) of the name in the slot and returns it as it was; nothing when
// there is none. With `yno` (a reservation the screen loaded) it deletes that one only, and only while
// it is still in the slot under the name (on one line), so that a reservation cancelled elsewhere and
// booked again meanwhile is left alone.
std::optional<Reservation> cancelReservation(Database &db, const QString &dateKey, const QString &hour,
                                             const QString &name, std::optional<int> yno = std::nullopt);

// Names booked in a slot, in the order they were booked.
QStringList namesInSlot(Database &db, const QString &dateKey, const QString &hour);

// The reservation of a name in a slot (the first booked, should there be several).
std::optional<Reservation> reservationInSlot(Database &db, const QString &dateKey, const QString &hour,
                                             const QString &name);

// The newest reservation (highest YNO) of a patient number.
std::optional<Reservation> latestReservationOfPatient(Database &db, const QString &patientNumber);

// Places the settings offer in the slot of a day.
int placesInSlot(Database &db, QDate date, const QString &hour);

// One line of the month grid: a day and its reservations in each of the ten slots.
struct GridDay {
    QDate date;
    QString label; // "09日 金"
    std::array<int, SlotCount> counts{};
    std::array<int, SlotCount> places{}; // what the settings offer in each slot of that weekday
};

// The chosen day and every later day of its month, with the reservations per slot, read in one
// grouped query. Nothing when the texts are no year, month and day number; an empty list when the
// day lies beyond the month's end.
std::optional<QList<GridDay>> monthGrid(Database &db, const QString &year, const QString &month, const QString &day);

} // namespace qrb
