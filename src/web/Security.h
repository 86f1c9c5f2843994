#pragma once

#include "db/WebShared.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace qrb::web {

// The site's key signs the forms' cookies and tokens and derives the cancel codes, so that none can
// be forged or guessed from outside. It is kept in the database (table WEBKEY), so that a form opened
// before a restart, or on another qrb-web of the same database, is still accepted.
class Secrets final
{
public:
    explicit Secrets(QByteArray key);

    // A new random text of `bytes` random bytes, as hex.
    static QByteArray randomHex(int bytes);

    // A new form cookie: a random part and the site's signature of it, so that the server recognises
    // its own cookies and refuses one it never issued.
    QByteArray newCookie() const;
    bool cookieValid(const QByteArray &cookie) const;

    // The token a form carries for the browser holding `cookie`.
    QByteArray csrfToken(const QByteArray &cookie) const;
    bool csrfValid(const QByteArray &cookie, const QByteArray &token) const;

    // The cancel code of the booking sent from a confirm page: 80 bits, derived from the page's
    // one-time number, so that a second send of the same page shows the same code. Written in
    // groups "XXXX-XXXX-XXXX-XXXX" of letters and digits that cannot be mistaken for each other.
    QString cancelCode(const QByteArray &nonce) const;

    // The signature of a result page's address for the browser holding `cookie`: the page a form's
    // send was answered with is shown again to that browser only.
    QByteArray resultSignature(const QByteArray &cookie, const QByteArray &result) const;

private:
    QByteArray hmac(const QByteArray &message) const;
    QByteArray m_key;
};

// The form cookie's name: behind HTTPS with the "__Host-" prefix, which the browser accepts only from
// this very host over HTTPS, so that no neighbouring site or plain-HTTP page can plant one.
QByteArray formCookieName(bool https);
// The Set-Cookie value of a new form cookie. SameSite=Lax: a patient who follows the booking link
// from the clinic's own site again brings her cookie along, so the form open in her other tab stays
// valid; a form posted from another site still comes without it.
QByteArray formCookieHeader(const QByteArray &cookie, bool https);

// A code as typed back, reduced to what it was written from: blanks, hyphens and width ignored,
// O read as 0 and I, L as 1. Nothing when it cannot be a code.
std::optional<QByteArray> normalizedCancelCode(const QString &typed);
// The hex SHA-256 of a normalised code: what is stored of it.
QByteArray cancelCodeHash(const QByteArray &normalized);
// Compares two texts in a time that does not depend on where they differ.
bool sameBytes(const QByteArray &a, const QByteArray &b);

// A value as the log may hold it: control characters (a CR LF sent in a path) and backslashes
// written as \xNN, so that nothing a client sends can begin a line of its own or pass for another entry.
QString logText(const QString &value);

// Where a client's requests are counted: its address and the network around it. One subscriber
// holds a whole IPv6 /64 (and often a /48), so an IPv6 address counts as its /64 and its network is
// the /48; an IPv4 address counts as itself and its network is the /24.
struct ClientNetworks {
    QString address; // "203.0.113.7", "2001:db8:1:2::/64"
    QString network; // "203.0.113.0/24", "2001:db8:1::/48"
};
ClientNetworks clientNetworks(const QString &client);

// How often a client may try, per address and per network, and how a run of wrong cancel codes locks
// it out.
struct Limits {
    struct Rule {
        int allowed = 0; // within the window
        qint64 windowMs = 0;
    };
    struct PerClient {
        Rule address;
        Rule network;
    };
    PerClient book{{12, 10 * 60 * 1000}, {40, 10 * 60 * 1000}};      // bookings sent
    PerClient check{{30, 10 * 60 * 1000}, {100, 10 * 60 * 1000}};    // checks and cancellations sent
    PerClient wrongCodes{{5, 30 * 60 * 1000}, {20, 30 * 60 * 1000}}; // wrong codes that lock the client out
    qint64 lockoutMs = 30 * 60 * 1000;
};

// Counts the attempts of clients and locks them out after wrong codes, in the database, so that every
// qrb-web on it counts alike (a restart forgets nothing).
class RateLimiter final
{
public:
    enum class Action { Book, Check };
    // `sitePerMinute`: the web bookings the whole site takes in a minute, whoever sends them.
    RateLimiter(Database &db, const Limits &limits, int sitePerMinute);

    // Counts an attempt at its address and its network; false, counting nothing, when either has used
    // up its window or the client is locked out, or, for a booking, when the site has taken its
    // bookings of the minute. Throws DbError.
    bool allow(Action action, const QString &client);
    // Counts a wrong code; true when it locked the client out.
    bool fail(Action action, const QString &client);
    // After fail(): the wrong codes the client may still send before it is locked out.
    int failuresLeft() const { return m_failuresLeft; }
    int lockoutMinutes() const { return int(m_limits.lockoutMs / 60000); }
    // A web booking stored: one of the site's bookings of the minute.
    void booked();
    // How long the client refused last must wait, in seconds (at least 1), and whether it was refused
    // because the whole site has taken its bookings of the minute.
    int retryAfterSeconds() const;
    bool siteBusy() const { return m_siteBusy; }

private:
    QList<Tally> tallies(const Limits::PerClient &rule, const QString &action, const ClientNetworks &client) const;
    QStringList lockKeys(Action action, const ClientNetworks &client) const;

    Database &m_db;
    Limits m_limits;
    int m_sitePerMinute = 0;
    qint64 m_waitMs = 0;
    bool m_siteBusy = false;
    int m_failuresLeft = 0;
};

} // namespace qrb::web
