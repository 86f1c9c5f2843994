#pragma once

#include "Letters.h"
#include "MailSettings.h"
#include "SmtpSender.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>

#include <atomic>

namespace qrb {
class Clock;
class Database;
} // namespace qrb

namespace qrb::mail {

// Works the queue off, on a database connection of its own: tidies the addresses away that are no
// longer needed, queues the reminders that are due and hands every mail that is due to the mail
// server. Several postmen (several qrb-web processes) may work one database: each mail is claimed in
// one statement before it is sent, so exactly one of them sends it.
class Postman final
{
public:
    Postman(Database &db, const Clock &clock, const MailSettings &settings, const Letterhead &head);

    struct Round {
        int reminders = 0; // queued in this round
        int sent = 0;
        int failed = 0; // to be tried again later
        int givenUp = 0;
    };
    // One round, at the clock's now. A failure of the database is thrown (DbError); whatever was
    // claimed but not finished is taken up again by any postman once its claim runs out.
    Round runOnce();

    // From any thread: the round under way stops after the mail being sent, which is cut short.
    void abort();

private:
    // A row of WEBMAIL.
    struct Kept {
        int yno = 0;
        int yno2 = 0; // 0: not a pair
        QString knm;
        QByteArray patient;
        QString address;
        qint64 booked = 0;
        QString reminded[2]; // "YYYY/MM/DD HH" of each dose's last reminder
    };
    // A dose of a booking with an address, as the reservation stands now.
    struct Standing {
        int booking = 0;
        int doseNumber = 1;
        Dose dose;
    };
    // The doses between two days (both included) of every booking with an address: its own rows, or
    // where the desk deleted one, the reservation it moved that dose to. `kept` gets every WEBMAIL row.
    QList<Standing> standingDoses(QDate from, QDate to, QHash<int, Kept> &kept);
    void tidy(const QDateTime &now);
    int queueReminders(const QDateTime &now);
    void sendDue(const QDateTime &now, Round &round);

    Database &m_db;
    const Clock &m_clock;
    MailSettings m_settings;
    Letterhead m_head;
    SmtpSender m_sender;
    QByteArray m_claim; // this postman's mark on the mail it is sending
    std::atomic_bool m_abort = false;
};

} // namespace qrb::mail
