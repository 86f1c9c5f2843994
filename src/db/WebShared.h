#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace qrb {

class Database;

// What every qrb-web on one database shares, so that several of them (behind one proxy, or on several
// machines) serve a patient as one: the key that signs the forms and derives the cancel codes (table
// WEBKEY, one row), and the counts of attempts and wrong codes per address and network (table
// WEBLIMIT), so that a limit or a lock-out reached on one holds on all. Both tables are made when
// missing; the desk never reads them.

// Makes both tables when missing and returns the site's key: the one stored, or, on the first start,
// `fresh()` stored and returned. Two processes starting at once agree on one key.
QByteArray prepareWebShared(Database &db, const std::function<QByteArray()> &fresh);

// One counter: what it counts (an action and an address or network, "book 203.0.113.0/24"), how many
// it allows within its window, and the window. A tally that is only `checked` is counted elsewhere
// (the site's bookings, counted once they are stored).
struct Tally {
    QString key;
    int allowed = 0;
    qint64 windowMs = 0;
    bool checkedOnly = false;
};

// Counts one attempt on every tally, at `nowMs` (milliseconds since 1970, the same on every machine
// within the accuracy of their clocks), unless one of them has used up its window or one of
// `lockKeys` is locked: then nothing is counted, the milliseconds to wait are returned, and
// `refusedBy` (when given) names the key that refused longest. 0: counted.
qint64 countAttempt(Database &db, const QList<Tally> &tallies, const QStringList &lockKeys, qint64 nowMs,
                    QString *refusedBy = nullptr);

// Counts one on a tally whatever it allows: something done that its window must remember.
void countDone(Database &db, const Tally &tally, qint64 nowMs);

// Counts a failure on every tally; the `allowed`-th within a tally's window locks its key for `lockMs`.
// Returns how many more failures the tallies allow before the first of them locks (0: one locked now).
int countFailure(Database &db, const QList<Tally> &tallies, qint64 lockMs, qint64 nowMs);

// The milliseconds until the last of `lockKeys` is unlocked (0 when none is locked).
qint64 lockedFor(Database &db, const QStringList &lockKeys, qint64 nowMs);

} // namespace qrb
