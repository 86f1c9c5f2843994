#pragma once

#include "Letters.h"
#include "MailSettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

namespace qrb {
class Database;
}

namespace qrb::mail {

// The mail tables, QRB's own, beside the web booking's (the desk reads neither):
//   WEBMAIL    the address a web booking was made with, by the booking's first number, with the name
//              it was booked under (and patientKey), when, and which day and hour of each dose were
//              reminded. Removed when the booking is cancelled (online at once, at the desk on the
//              next round of the postman) and KEEP_DAYS after its last dose.
//   MAILQUEUE  every mail from queued to sent. The address and the message (a confirmation holds the
//              cancel code) are emptied once it is sent or given up; what stays for two days is what
//              the daily limits count: hashes of the address and of the network, kind and times.
// Made by prepareMail when missing.
void prepareMail(Database &db);

// With mail switched off, nothing of it is kept: the stored addresses and the mails not yet sent are
// deleted. Returns how many addresses were deleted (0 when mail was never on).
int forgetMail(Database &db);

enum class MailKind { Confirmation, Reminder, Cancellation };
// "confirmation", "reminder", "cancellation": as stored, and for the log.
QString kindName(MailKind kind);

// A booking as the done page shows it, for its confirmation.
struct BookedMail {
    QString address;    // checked (checkAddress)
    QString client;     // the address the booking came from, for the per-network limit
    QString name;       // as booked: a reminder goes only while the reservation still bears it
    QByteArray patient; // patientKey of the booking's rows, to follow a dose the desk moves
    QList<Dose> doses;
    QString cancelCode;
};

// What the booking pages hand to the mail: queued inside the page's own write transaction, so that a
// booking and its confirmation are stored together or not at all, and sent after the commit by the
// postman, which `wake` calls. Nothing here talks to a mail server.
class Outbox final
{
public:
    Outbox(const MailSettings &settings, const Letterhead &head, std::function<void()> wake = {});

    // Keeps the address with the booking and queues its confirmation. When the address or the
    // client's network has had its mails for the day, nothing is kept and false returned: the booking
    // stands, without mail (the page says the same either way, so the limit tells no one about other
    // bookings).
    bool confirmBooking(Database &db, const BookedMail &booked, const QDateTime &now) const;
    // After the patient cancelled booking `yno` online, inside the cancel's transaction: queues the
    // notice (within the same limits), drops the booking's unsent mails and forgets its address.
    bool noticeCancellation(Database &db, int yno, const QList<Dose> &doses, const QString &client,
                            const QDateTime &now) const;
    // Tells the postman there is mail; call it after the commit.
    void wake() const;
    // How long addresses are kept after the reservation's day, for the form to say.
    int keepDays() const { return m_settings.keepDays; }

private:
    MailSettings m_settings;
    Letterhead m_head;
    std::function<void()> m_wake;
};

// Queues one mail, without looking at limits (the caller's business): returns its id. A reminder has
// no network (empty networkKey).
QByteArray enqueue(Database &db, const Letterhead &head, MailKind kind, int yno, const QString &to,
                   const Letter &letter, const QByteArray &networkKey, const QDateTime &now);

} // namespace qrb::mail
