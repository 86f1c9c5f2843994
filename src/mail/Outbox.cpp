#include "Outbox.h"

#include "Address.h"
#include "db/Database.h"

#include <QRandomGenerator>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb::mail {

namespace {

constexpr qint64 Day = 24 * 60 * 60;

QByteArray randomId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
}

bool tableExists(Database &db, const QString &name)
{
    const QString sql = db.isPostgres()
                            ? u"SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                              "AND table_name = ?"_s
                            : u"SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = ?"_s;
    return db.scalar(sql, {db.isPostgres() ? name.toLower() : name}).toInt() > 0;
}

// The mails counted by the daily limits: those a patient's action asked for. Reminders come from the
// clinic's own schedule and count for nothing.
bool withinLimits(Database &db, const MailSettings &s, const QString &address, const QByteArray &network,
                  const QDateTime &now)
{
    const qint64 since = now.toSecsSinceEpoch() - Day;
    const int toAddress = db.scalar(u"SELECT COUNT(*) FROM MAILQUEUE WHERE ADDRKEY = ? AND KIND <> 'reminder' "
                                    "AND QUEUED > ?"_s,
                                    {QString::fromLatin1(addressKey(address)), since})
                              .toInt();
    const int fromNetwork = db.scalar(u"SELECT COUNT(*) FROM MAILQUEUE WHERE NETKEY = ? AND KIND <> 'reminder' "
                                      "AND QUEUED > ?"_s,
                                      {QString::fromLatin1(network), since})
                                .toInt();
    return toAddress < s.perAddress && fromNetwork < s.perNetwork;
}

} // namespace

void prepareMail(Database &db)
{
    Database::WriteTransaction transaction(db);
    db.write(u"CREATE TABLE IF NOT EXISTS WEBMAIL (YNO INTEGER NOT NULL PRIMARY KEY, YNO2 INTEGER, KNM TEXT NOT NULL, "
             "PATIENT TEXT NOT NULL, ADDRESS TEXT NOT NULL, BOOKED BIGINT NOT NULL, REMINDED1 TEXT, REMINDED2 TEXT)"_s);
    db.write(u"CREATE TABLE IF NOT EXISTS MAILQUEUE (ID TEXT NOT NULL PRIMARY KEY, KIND TEXT NOT NULL, "
             "YNO INTEGER NOT NULL, RCPT TEXT NOT NULL, MESSAGE TEXT NOT NULL, ADDRKEY TEXT NOT NULL, "
             "NETKEY TEXT, QUEUED BIGINT NOT NULL, DUE BIGINT NOT NULL, ATTEMPTS INTEGER NOT NULL, "
             "STATE TEXT NOT NULL, CLAIM TEXT, LEASE BIGINT)"_s);
    db.write(u"CREATE INDEX IF NOT EXISTS MAILQUEUE_DUE ON MAILQUEUE (STATE, DUE)"_s);
    db.write(u"CREATE INDEX IF NOT EXISTS MAILQUEUE_ADDRKEY ON MAILQUEUE (ADDRKEY, QUEUED)"_s);
    db.write(u"CREATE INDEX IF NOT EXISTS MAILQUEUE_NETKEY ON MAILQUEUE (NETKEY, QUEUED)"_s);
    transaction.commit();
}

int forgetMail(Database &db)
{
    if (!tableExists(db, u"WEBMAIL"_s)) {
        return 0;
    }
    Database::WriteTransaction transaction(db);
    const int addresses = db.write(u"DELETE FROM WEBMAIL"_s);
    db.write(u"DELETE FROM MAILQUEUE WHERE STATE = 'queued'"_s);
    transaction.commit();
    return addresses;
}

QString kindName(MailKind kind)
{
    switch (kind) {
    case MailKind::Confirmation:
        return u"confirmation"_s;
    case MailKind::Reminder:
        return u"reminder"_s;
    case MailKind::Cancellation:
        return u"cancellation"_s;
    }
    return {};
}

QByteArray enqueue(Database &db, const Letterhead &head, MailKind kind, int yno, const QString &to,
                   const Letter &letter, const QByteArray &networkKey, const QDateTime &now)
{
    const QByteArray id = randomId();
    const qint64 at = now.toSecsSinceEpoch();
    db.write(u"INSERT INTO MAILQUEUE (ID, KIND, YNO, RCPT, MESSAGE, ADDRKEY, NETKEY, QUEUED, DUE, ATTEMPTS, STATE) "
             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 0, 'queued')"_s,
             {QString::fromLatin1(id), kindName(kind), yno, to,
              QString::fromLatin1(mimeMessage(head, to, letter, now, id)), QString::fromLatin1(addressKey(to)),
              networkKey.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QString::fromLatin1(networkKey), at,
              at});
    return id;
}

Outbox::Outbox(const MailSettings &settings, const Letterhead &head, std::function<void()> wake)
    : m_settings(settings)
    , m_head(head)
    , m_wake(std::move(wake))
{
}

bool Outbox::confirmBooking(Database &db, const BookedMail &b, const QDateTime &now) const
{
    const QByteArray network = networkKey(b.client);
    if (b.address.isEmpty() || b.doses.isEmpty() || !withinLimits(db, m_settings, b.address, network, now)) {
        return false;
    }
    const QVariant none(QMetaType::fromType<int>());
    // An address left behind by an earlier booking of this number, which the desk deleted and the
    // postman has not tidied away yet.
    db.write(u"DELETE FROM WEBMAIL WHERE YNO = ?"_s, {b.doses.first().yno});
    db.write(u"INSERT INTO WEBMAIL (YNO, YNO2, KNM, PATIENT, ADDRESS, BOOKED) VALUES (?, ?, ?, ?, ?, ?)"_s,
             {b.doses.first().yno, b.doses.size() > 1 ? QVariant(b.doses.at(1).yno) : none, b.name,
              QString::fromLatin1(b.patient), b.address, now.toSecsSinceEpoch()});
    enqueue(db, m_head, MailKind::Confirmation, b.doses.first().yno, b.address,
            confirmationLetter(m_head, b.doses, b.cancelCode), network, now);
    return true;
}

bool Outbox::noticeCancellation(Database &db, int yno, const QList<Dose> &doses, const QString &client,
                                const QDateTime &now) const
{
    const QString address = db.scalar(u"SELECT ADDRESS FROM WEBMAIL WHERE YNO = ?"_s, {yno}).toString();
    if (address.isEmpty()) {
        return false;
    }
    // A reminder or confirmation still waiting would now speak of a reservation that is gone.
    db.write(u"DELETE FROM MAILQUEUE WHERE YNO = ? AND STATE = 'queued'"_s, {yno});
    db.write(u"DELETE FROM WEBMAIL WHERE YNO = ?"_s, {yno});
    const QByteArray network = networkKey(client);
    if (doses.isEmpty() || !withinLimits(db, m_settings, address, network, now)) {
        return false;
    }
    enqueue(db, m_head, MailKind::Cancellation, yno, address, cancellationLetter(m_head, doses), network, now);
    return true;
}

void Outbox::wake() const
{
    if (m_wake) {
        m_wake();
    }
}

} // namespace qrb::mail
