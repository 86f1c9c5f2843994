#include "Postman.h"

#include "Outbox.h"
#include "config/Clock.h"
#include "db/Database.h"
#include "shared/Dates.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb::mail {

namespace {

constexpr qint64 Day = 24 * 60 * 60;
// Longer than a send may take (libcurl gives up after 80 s): a claim runs out only when its postman
// died mid-send.
constexpr qint64 ClaimSeconds = 10 * 60;
// Sent and given-up mails are kept (without address or message) for the daily limits.
constexpr qint64 KeepCounted = 2 * Day;

// 1, 2, 4 … 32 minutes, then every hour, until the day is over.
qint64 backOff(int attempts)
{
    return std::min<qint64>(60 * (qint64(1) << std::min(attempts - 1, 6)), 60 * 60);
}

// A moment on a given day and time, in the clock's own time zone.
QDateTime at(const QDateTime &now, QDate day, QTime time)
{
    QDateTime moment = now;
    moment.setDate(day);
    moment.setTime(time);
    return moment;
}

} // namespace

Postman::Postman(Database &db, const Clock &clock, const MailSettings &settings, const Letterhead &head)
    : m_db(db)
    , m_clock(clock)
    , m_settings(settings)
    , m_head(head)
    , m_sender(settings)
    , m_claim(QByteArray::number(QRandomGenerator::system()->generate64(), 16))
{
}

void Postman::abort()
{
    m_abort = true;
    m_sender.abort();
}

Postman::Round Postman::runOnce()
{
    const QDateTime now = m_clock.now();
    Round round;
    tidy(now);
    round.reminders = queueReminders(now);
    sendDue(now, round);
    return round;
}

void Postman::tidy(const QDateTime &now)
{
    // An address is kept while its booking stands, and KEEP_DAYS after its last dose; a booking the
    // desk deleted (or renamed) no longer finds its rows.
    m_db.write(u"DELETE FROM WEBMAIL WHERE NOT EXISTS (SELECT 1 FROM YOYAKU Y WHERE Y.KNM = WEBMAIL.KNM "
               "AND (Y.YNO = WEBMAIL.YNO OR Y.YNO = WEBMAIL.YNO2) AND Y.YDATE >= ?)"_s,
               {dateKey(now.date().addDays(-m_settings.keepDays))});
    // Unsent mail of a booking that is gone would speak of a reservation that no longer stands.
    m_db.write(u"DELETE FROM MAILQUEUE WHERE STATE = 'queued' AND KIND <> 'cancellation' "
               "AND NOT EXISTS (SELECT 1 FROM WEBMAIL W WHERE W.YNO = MAILQUEUE.YNO)"_s);
    m_db.write(u"DELETE FROM MAILQUEUE WHERE STATE <> 'queued' AND QUEUED < ?"_s,
               {now.toSecsSinceEpoch() - KeepCounted});
}

int Postman::queueReminders(const QDateTime &now)
{
    struct Due {
        int booking = 0;
        bool ofPair = false;
        QString address;
        qint64 booked = 0;
        QString reminded1, reminded2;
        Dose dose;
    };
    QList<Due> candidates;
    const QDate today = now.date();
    // Today's doses too: a reminder missed the evening before (qrb-web was down) still helps in the
    // morning, until the slot begins.
    m_db.forEachRow(u"SELECT W.YNO, W.YNO2, W.ADDRESS, W.BOOKED, W.REMINDED1, W.REMINDED2, Y.YNO, Y.YDATE, Y.YTIME "
                    "FROM WEBMAIL W JOIN YOYAKU Y ON Y.KNM = W.KNM AND (Y.YNO = W.YNO OR Y.YNO = W.YNO2) "
                    "WHERE Y.YDATE >= ? AND Y.YDATE <= ? ORDER BY Y.YDATE, Y.YTIME, Y.YNO"_s,
                    {dateKey(today), dateKey(today.addDays(1))}, [&](const QSqlQuery &q) {
                        Due due{q.value(0).toInt(),
                                !q.value(1).isNull(),
                                q.value(2).toString(),
                                q.value(3).toLongLong(),
                                q.value(4).toString(),
                                q.value(5).toString(),
                                Dose{q.value(6).toInt(), dateFromKey(q.value(7).toString()).value_or(QDate()),
                                     q.value(8).toString()}};
                        candidates << due;
                    });
    int queued = 0;
    for (const Due &due : candidates) {
        const bool hourKnown = due.dose.hour.size() == 2 && due.dose.hour.toInt() >= 0 && due.dose.hour.toInt() < 24;
        if (!due.dose.date.isValid() || !hourKnown) {
            continue;
        }
        const QDateTime moment = at(now, due.dose.date.addDays(-1), m_settings.remindAt);
        const QDateTime begins = at(now, due.dose.date, QTime(due.dose.hour.toInt(), 0));
        // Booked after the reminder time: the confirmation has only just said it all.
        if (now < moment || now >= begins || due.booked >= moment.toSecsSinceEpoch()) {
            continue;
        }
        const bool first = due.dose.yno == due.booking;
        const QString slot = dateKey(due.dose.date) + u' ' + due.dose.hour;
        if ((first ? due.reminded1 : due.reminded2) == slot) {
            continue;
        }
        // The mark and the mail together: of several postmen, the one whose mark lands queues it. A
        // dose the desk moved to another day or hour has a new slot, and is reminded of again.
        const QString column = first ? u"REMINDED1"_s : u"REMINDED2"_s;
        Database::WriteTransaction transaction(m_db, Database::WriteTransaction::Lock::NoTables);
        const int marked =
            m_db.write(u"UPDATE WEBMAIL SET %1 = ? WHERE YNO = ? AND (%1 IS NULL OR %1 <> ?)"_s.arg(column),
                       {slot, due.booking, slot});
        if (marked == 1) {
            enqueue(m_db, m_head, MailKind::Reminder, due.booking, due.address,
                    reminderLetter(m_head, due.dose, today, first ? 1 : 2, due.ofPair), QByteArray(), now);
            ++queued;
        }
        transaction.commit();
    }
    return queued;
}

void Postman::sendDue(const QDateTime &now, Round &round)
{
    const qint64 t = now.toSecsSinceEpoch();
    while (!m_abort) {
        QStringList ids;
        m_db.forEachRow(
            u"SELECT ID FROM MAILQUEUE WHERE STATE = 'queued' AND DUE <= ? AND (LEASE IS NULL OR LEASE < ?) "
            "ORDER BY DUE, QUEUED LIMIT 20"_s,
            {t, t}, [&](const QSqlQuery &q) { ids << q.value(0).toString(); });
        if (ids.isEmpty()) {
            return;
        }
        bool claimedAny = false;
        for (const QString &id : ids) {
            if (m_abort) {
                return;
            }
            const int claimed =
                m_db.write(u"UPDATE MAILQUEUE SET CLAIM = ?, LEASE = ? WHERE ID = ? AND STATE = 'queued' "
                           "AND DUE <= ? AND (LEASE IS NULL OR LEASE < ?)"_s,
                           {QString::fromLatin1(m_claim), t + ClaimSeconds, id, t, t});
            if (claimed != 1) {
                continue; // another postman has it
            }
            claimedAny = true;
            QString kind, rcpt;
            QByteArray message;
            int yno = 0, attempts = 0;
            qint64 queued = 0;
            m_db.forEachRow(u"SELECT KIND, YNO, RCPT, MESSAGE, ATTEMPTS, QUEUED FROM MAILQUEUE WHERE ID = ?"_s, {id},
                            [&](const QSqlQuery &q) {
                                kind = q.value(0).toString();
                                yno = q.value(1).toInt();
                                rcpt = q.value(2).toString();
                                message = q.value(3).toString().toLatin1();
                                attempts = q.value(4).toInt();
                                queued = q.value(5).toLongLong();
                            });
            const QString what = u"mail: %1 for reservation %2"_s.arg(kind).arg(yno);
            const auto finish = [&](const char *state) {
                m_db.write(u"UPDATE MAILQUEUE SET STATE = ?, RCPT = '', MESSAGE = '', ATTEMPTS = ?, CLAIM = NULL, "
                           "LEASE = NULL WHERE ID = ? AND CLAIM = ?"_s,
                           {QString::fromLatin1(state), attempts, id, QString::fromLatin1(m_claim)});
            };
            if (t - queued >= Day) {
                finish("failed");
                ++round.givenUp;
                qWarning().noquote() << what << "given up: not sent within a day," << attempts << "attempts";
                continue;
            }
            const SmtpSender::Result result = m_sender.send(rcpt, message);
            ++attempts;
            if (result.sent) {
                finish("sent");
                ++round.sent;
                qInfo().noquote() << what << "sent";
                continue;
            }
            const qint64 next = t + backOff(attempts);
            if (result.permanent || next - queued >= Day) {
                finish("failed");
                ++round.givenUp;
                qWarning().noquote() << what << "given up after" << attempts << "attempts:" << result.reason;
                continue;
            }
            m_db.write(u"UPDATE MAILQUEUE SET ATTEMPTS = ?, DUE = ?, CLAIM = NULL, LEASE = NULL "
                       "WHERE ID = ? AND CLAIM = ?"_s,
                       {attempts, next, id, QString::fromLatin1(m_claim)});
            ++round.failed;
            qWarning().noquote() << what << "not sent (attempt" << attempts << "), next in" << (next - t) / 60
                                 << "min:" << result.reason;
            // The server is down or refuses us: the rest waits for the next round rather than each
            // one waiting out the same failure now.
            return;
        }
        if (!claimedAny) {
            return;
        }
    }
}

} // namespace qrb::mail
