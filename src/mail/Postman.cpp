#include "Postman.h"

#include "Address.h"
#include "Outbox.h"
#include "config/Clock.h"
#include "db/Database.h"
#include "shared/Dates.h"

#include <QDebug>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
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

QList<Postman::Standing> Postman::standingDoses(QDate from, QDate to, QHash<int, Kept> &kept)
{
    kept.clear();
    QSet<int> ownNumbers;
    m_db.forEachRow(u"SELECT YNO, YNO2, KNM, PATIENT, ADDRESS, BOOKED, REMINDED1, REMINDED2 FROM WEBMAIL"_s, {},
                    [&](const QSqlQuery &q) {
                        Kept k{q.value(0).toInt(),
                               q.value(1).isNull() ? 0 : q.value(1).toInt(),
                               q.value(2).toString(),
                               q.value(3).toString().toLatin1(),
                               q.value(4).toString(),
                               q.value(5).toLongLong(),
                               {q.value(6).toString(), q.value(7).toString()}};
                        ownNumbers << k.yno << k.yno2;
                        kept.insert(k.yno, k);
                    });
    QList<Standing> standing;
    QSet<std::pair<int, int>> found; // (booking, dose number) whose own row still stands
    const auto inRange = [&](const QString &date) { return date >= dateKey(from) && date <= dateKey(to); };
    const auto doseOf = [](const QSqlQuery &q) {
        return Dose{q.value(1).toInt(), dateFromKey(q.value(2).toString()).value_or(QDate()), q.value(3).toString()};
    };
    m_db.forEachRow(u"SELECT W.YNO, Y.YNO, Y.YDATE, Y.YTIME FROM WEBMAIL W JOIN YOYAKU Y ON Y.KNM = W.KNM "
                    "AND (Y.YNO = W.YNO OR Y.YNO = W.YNO2) ORDER BY Y.YDATE, Y.YTIME, Y.YNO"_s,
                    {}, [&](const QSqlQuery &q) {
                        const int booking = q.value(0).toInt();
                        const int number = q.value(1).toInt() == booking ? 1 : 2;
                        found.insert({booking, number});
                        if (inRange(q.value(2).toString())) {
                            standing.append({booking, number, doseOf(q)});
                        }
                    });
    // A dose whose own row is gone may have been moved at the desk: booked again there, later, for
    // the same patient (name, kana, birth date and telephone as the web booking stored them), which
    // is what the desk's form copies when it loads her. The earliest such reservation is followed.
    for (const Kept &k : std::as_const(kept)) {
        for (const int number : k.yno2 ? QList<int>{1, 2} : QList<int>{1}) {
            if (found.contains({k.yno, number})) {
                continue;
            }
            std::optional<Standing> moved;
            m_db.forEachRow(u"SELECT KNM, YNO, YDATE, YTIME, KKNM, BIRTHDAY, TEL1, SCNT FROM YOYAKU WHERE KNM = ? "
                            "AND YNO > ? AND YDATE >= ? AND YDATE <= ? ORDER BY YDATE, YTIME, YNO"_s,
                            {k.knm, k.yno, dateKey(from), dateKey(to)}, [&](const QSqlQuery &q) {
                                const bool samePatient =
                                    patientKey(q.value(0).toString(), q.value(4).toString(), q.value(5).toString(),
                                               q.value(6).toString()) == k.patient;
                                const bool sameDose = !k.yno2 || q.value(7).toInt() == number;
                                if (!moved && samePatient && sameDose && !ownNumbers.contains(q.value(1).toInt())) {
                                    moved = Standing{k.yno, number, doseOf(q)};
                                }
                            });
            if (moved) {
                standing.append(*moved);
            }
        }
    }
    return standing;
}

void Postman::tidy(const QDateTime &now)
{
    // An address is kept while its booking stands (where the desk moved it, too), and KEEP_DAYS after
    // its last dose; a booking the desk deleted no longer finds its rows.
    QHash<int, Kept> kept;
    QSet<int> standing;
    for (const Standing &s : standingDoses(now.date().addDays(-m_settings.keepDays), QDate(9999, 12, 31), kept)) {
        standing << s.booking;
    }
    for (const Kept &k : std::as_const(kept)) {
        if (!standing.contains(k.yno)) {
            m_db.write(u"DELETE FROM WEBMAIL WHERE YNO = ?"_s, {k.yno});
        }
    }
    // Unsent mail of a booking that is gone would speak of a reservation that no longer stands.
    m_db.write(u"DELETE FROM MAILQUEUE WHERE STATE = 'queued' AND KIND <> 'cancellation' "
               "AND NOT EXISTS (SELECT 1 FROM WEBMAIL W WHERE W.YNO = MAILQUEUE.YNO)"_s);
    m_db.write(u"DELETE FROM MAILQUEUE WHERE STATE <> 'queued' AND QUEUED < ?"_s,
               {now.toSecsSinceEpoch() - KeepCounted});
}

int Postman::queueReminders(const QDateTime &now)
{
    const QDate today = now.date();
    QHash<int, Kept> kept;
    // Today's doses too: a reminder missed the evening before (qrb-web was down) still helps in the
    // morning, until the slot begins.
    const QList<Standing> doses = standingDoses(today, today.addDays(1), kept);
    int queued = 0;
    for (const Standing &s : doses) {
        const Kept &k = kept[s.booking];
        const Dose &dose = s.dose;
        const bool hourKnown = dose.hour.size() == 2 && dose.hour.toInt() >= 0 && dose.hour.toInt() < 24;
        if (!dose.date.isValid() || !hourKnown) {
            continue;
        }
        const QDateTime moment = at(now, dose.date.addDays(-1), m_settings.remindAt);
        const QDateTime begins = at(now, dose.date, QTime(dose.hour.toInt(), 0));
        // Booked after the reminder time: the confirmation has only just said it all.
        if (now < moment || now >= begins || k.booked >= moment.toSecsSinceEpoch()) {
            continue;
        }
        const QString slot = dateKey(dose.date) + u' ' + dose.hour;
        if (k.reminded[s.doseNumber - 1] == slot) {
            continue;
        }
        // The mark and the mail together: of several postmen, the one whose mark lands queues it. A
        // dose the desk moved to another day or hour has a new slot, and is reminded of again.
        const QString column = s.doseNumber == 1 ? u"REMINDED1"_s : u"REMINDED2"_s;
        Database::WriteTransaction transaction(m_db, Database::WriteTransaction::Lock::NoTables);
        const int marked =
            m_db.write(u"UPDATE WEBMAIL SET %1 = ? WHERE YNO = ? AND (%1 IS NULL OR %1 <> ?)"_s.arg(column),
                       {slot, s.booking, slot});
        if (marked == 1) {
            enqueue(m_db, m_head, MailKind::Reminder, s.booking, k.address,
                    reminderLetter(m_head, dose, today, s.doseNumber, k.yno2 != 0), QByteArray(), now);
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
