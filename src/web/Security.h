#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <optional>

namespace qrb::web {

// The server's secret, drawn anew at every start: it signs the forms' tokens and derives the cancel
// codes, so neither can be forged or guessed from outside. Forms opened before a restart are refused.
class Secrets final
{
public:
    Secrets();

    // A new random text of `bytes` random bytes, as hex.
    static QByteArray randomHex(int bytes);

    // The token a form carries for the browser holding `cookie`.
    QByteArray csrfToken(const QByteArray &cookie) const;
    bool csrfValid(const QByteArray &cookie, const QByteArray &token) const;

    // The cancel code of the booking sent from a confirm page: 80 bits, derived from the page's
    // one-time number, so that a second send of the same page shows the same code. Written in
    // groups "XXXX-XXXX-XXXX-XXXX" of letters and digits that cannot be mistaken for each other.
    QString cancelCode(const QByteArray &nonce) const;

private:
    QByteArray hmac(const QByteArray &message) const;
    QByteArray m_key;
};

// A code as typed back, reduced to what it was written from: blanks, hyphens and width ignored,
// O read as 0 and I, L as 1. Nothing when it cannot be a code.
std::optional<QByteArray> normalizedCancelCode(const QString &typed);
// The hex SHA-256 of a normalised code: what is stored of it.
QByteArray cancelCodeHash(const QByteArray &normalized);
// Compares two texts in a time that does not depend on where they differ.
bool sameBytes(const QByteArray &a, const QByteArray &b);

// Counts per client address and action within a window, and locks an address out of an action for a
// while after too many failures. Kept in memory: a restart forgets it.
class RateLimiter final
{
public:
    struct Rule {
        int allowed = 0; // attempts within the window
        qint64 windowMs = 0;
    };
    RateLimiter();

    // Counts an attempt; false (and counts nothing) when the address has used up its window or is
    // locked out.
    bool allow(const QString &action, const QString &address, const Rule &rule);
    // Counts a failure (a wrong code); the `failures`-th failure within the window locks the address
    // out of the action for `lockMs`.
    void fail(const QString &action, const QString &address, int failures, qint64 windowMs, qint64 lockMs);
    // How long the address must wait, in seconds (0 when it may go on).
    int retryAfterSeconds(const QString &action, const QString &address) const;

private:
    struct Window {
        qint64 start = 0;
        int count = 0;
        qint64 lockedUntil = 0;
    };
    Window &window(const QString &key, qint64 windowMs);
    void prune();

    QElapsedTimer m_clock;
    QHash<QString, Window> m_windows;
    QHash<QString, Window> m_failures;
};

} // namespace qrb::web
