#pragma once

#include "Booking.h"
#include "Reservation.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace qrb {

class Database;

// What the online booking page keeps beside YOYAKU: for every booking made on the web, the hash of
// its cancel code, the slot and name it was made for (so that a number the desk has since deleted and
// handed to another patient is never reachable with the old code), the second dose of a pair, and the
// one-time number of the confirm page it came from. Made by prepareWebBooking when missing; the desk
// never reads it.
void prepareWebBooking(Database &db);

// Reservations per slot between two days (both included), keyed "YYYY/MM/DD HH", counted as
// YOYAKU_cnt counts them: every row, come or not.
QHash<QString, int> reservationCountsBetween(Database &db, QDate from, QDate to);

struct OnlineResult;

struct OnlineBooking {
    BookingRecord first;
    std::optional<BookingRecord> second; // the second dose of a 新型 pair
    QString phoneDigits;                 // the telephone number as digits only
    int perPhone = 8;                    // bookings from today on that one number may hold
    QDate today;
    QByteArray codeHash; // hex SHA-256 of the cancel code
    QByteArray nonce;    // the confirm page's one-time number
    // What else belongs to the booking (its confirmation mail), written in the same transaction once
    // the rows are in, so that neither is stored without the other.
    std::function<void(Database &, const OnlineResult &)> alsoStore;
};

enum class OnlineOutcome {
    Booked,
    AlreadySubmitted, // the same confirm page was sent before: nothing new, the earlier numbers
    SlotFull,         // the first dose's slot has no place left
    SecondSlotFull,   // the second dose's slot has no place left
    AlreadyBooked,    // the name is already booked in one of the slots
    PhoneLimit,       // the telephone number holds perPhone bookings already
};

struct OnlineResult {
    OnlineOutcome outcome = OnlineOutcome::Booked;
    int yno = 0;
    int secondYno = 0; // 0 without a second dose
};

// Stores a web booking (both doses of a pair) in one write transaction: the places of each slot are
// counted and the rows inserted under the write lock, beside desks booking the same slots, so a web
// booking never takes a place beyond a slot's capacity; when any check fails nothing is stored.
OnlineResult bookOnline(Database &db, const OnlineBooking &booking);

struct OnlineReservation {
    QByteArray codeHash;
    QList<Reservation> doses; // the rows still in YOYAKU as they were booked; empty when the desk deleted them
};

// The web booking of a reservation number, or nothing when that number was not booked on the web.
std::optional<OnlineReservation> onlineReservation(Database &db, int yno);

// Deletes the web booking of a number, both doses of a pair, as one transaction. Returns the rows
// deleted (0 when the desk had already deleted them). `alsoStore` (the cancellation notice) is
// written in the same transaction, told how many rows were deleted.
int cancelOnline(Database &db, int yno, const std::function<void(Database &, int)> &alsoStore = {});

} // namespace qrb
