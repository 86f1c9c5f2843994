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
#include <utility>

namespace qrb {

class Database;

// What the online booking page keeps beside YOYAKU: for every booking made on the web, the hash of
// its cancel code, the slot and name it was made for (so that a number the desk has since deleted and
// handed to another patient is never reachable with the old code), the second dose of a pair, and the
// one-time number of the confirm page it came from. Made by prepareWebBooking when missing; the desk
// never reads it.
void prepareWebBooking(Database &db);

// Where the history of the places stands: the last save of the settings screen and the last restore,
// whoever made them (a desk, another program). The capacities read at one version hold until it moves.
using CapacitiesVersion = std::pair<qint64, qint64>;
CapacitiesVersion capacitiesVersion(Database &db);

// Reservations per slot between two days (both included), keyed "YYYY/MM/DD HH", counted as
// YOYAKU_cnt counts them: every row, come or not.
QHash<QString, int> reservationCountsBetween(Database &db, QDate from, QDate to);

// The places of a slot offered online when `share` percent of them are: rounded down, so that the
// places the clinic keeps for the telephone and the desk are never fewer than it asked for.
int onlinePlaces(int places, int share);

struct OnlineResult;

struct OnlineBooking {
    BookingRecord first;
    std::optional<BookingRecord> second; // the second dose of a 新型 pair
    QString phoneDigits;                 // the telephone number as digits only
    int perPhone = 8;                    // bookings from today on that one number may hold
    int share = 100;                     // percent of each slot's places offered online
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
    SlotFull,         // the first dose's slot has no place left (online: none of its share)
    SecondSlotFull,   // the second dose's slot has no place left
    AlreadyBooked,    // her name under her telephone number is already booked in one of the slots
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
    int yno = 0;       // the number the booking was made under (the first dose's)
    int secondYno = 0; // the second dose's number of a pair, 0 otherwise
    QByteArray codeHash;
    QList<Reservation> doses; // the rows still in YOYAKU as they were booked; empty once cancelled
};

// The web booking a reservation number names (the first or the second dose's), with its code's hash
// but without its rows: what checking a typed code needs, read in one statement whether the number
// exists or not. Nothing when that number was not booked on the web.
std::optional<OnlineReservation> onlineBookingOfNumber(Database &db, int yno);

// The web booking a confirm page stored, with its rows: a page sent again answers with it, whatever
// happened to the slots since. Nothing when that page has stored no booking.
std::optional<OnlineReservation> onlineBookingOfPage(Database &db, const QByteArray &nonce);

// The rows of a web booking (by the number it was made under) still in YOYAKU as they were booked.
QList<Reservation> bookedDoses(Database &db, int yno);

// Deletes the web booking of a number, both doses of a pair, as one transaction. Returns the rows
// deleted (0 when they were already gone). The booking's code and page stay known, so that the same
// cancel page, or the confirm page, sent again is told the booking is cancelled. `alsoStore` (the
// cancellation notice) is written in the same transaction, told how many rows were deleted.
int cancelOnline(Database &db, int yno, const std::function<void(Database &, int)> &alsoStore = {});

} // namespace qrb
