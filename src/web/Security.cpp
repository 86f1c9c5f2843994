#include "Security.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace qrb::web {

namespace {

// Crockford's base 32: no I, L, O or U, so that a code read aloud or copied by hand survives.
constexpr char CodeAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int CodeLength = 16; // 16 × 5 = 80 bits

} // namespace

Secrets::Secrets()
    : m_key(QByteArray::fromHex(randomHex(32)))
{
}

QByteArray Secrets::randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toHex();
}

QByteArray Secrets::hmac(const QByteArray &message) const
{
    return QMessageAuthenticationCode::hash(message, m_key, QCryptographicHash::Sha256);
}

QByteArray Secrets::csrfToken(const QByteArray &cookie) const
{
    return hmac("csrf:" + cookie).toHex();
}

bool Secrets::csrfValid(const QByteArray &cookie, const QByteArray &token) const
{
    return !cookie.isEmpty() && sameBytes(csrfToken(cookie), token);
}

QString Secrets::cancelCode(const QByteArray &nonce) const
{
    const QByteArray mac = hmac("code:" + nonce);
    QString code;
    quint64 bits = 0;
    int available = 0;
    int byte = 0;
    for (int i = 0; i < CodeLength; ++i) {
        while (available < 5) {
            bits = (bits << 8) | static_cast<unsigned char>(mac.at(byte++));
            available += 8;
        }
        available -= 5;
        code += QLatin1Char(CodeAlphabet[(bits >> available) & 31]);
        if (i % 4 == 3 && i + 1 < CodeLength) {
            code += u'-';
        }
    }
    return code;
}

std::optional<QByteArray> normalizedCancelCode(const QString &typed)
{
    QByteArray code;
    for (QChar c : typed.normalized(QString::NormalizationForm_KC).toUpper()) {
        if (c == u' ' || c == u'-' || c == u'　') {
            continue;
        }
        if (c == u'O') {
            c = u'0';
        } else if (c == u'I' || c == u'L') {
            c = u'1';
        }
        if (c.unicode() > 127 || !QByteArrayView(CodeAlphabet).contains(char(c.unicode()))) {
            return std::nullopt;
        }
        code += char(c.unicode());
    }
    if (code.size() != CodeLength) {
        return std::nullopt;
    }
    return code;
}

QByteArray cancelCodeHash(const QByteArray &normalized)
{
    return QCryptographicHash::hash(normalized, QCryptographicHash::Sha256).toHex();
}

bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    }
    return diff == 0;
}

RateLimiter::RateLimiter()
{
    m_clock.start();
}

RateLimiter::Window &RateLimiter::window(const QString &key, qint64 windowMs)
{
    Window &w = m_windows[key];
    if (m_clock.elapsed() - w.start >= windowMs) {
        w.start = m_clock.elapsed();
        w.count = 0;
    }
    return w;
}

bool RateLimiter::allow(const QString &action, const QString &address, const Rule &rule)
{
    prune();
    if (retryAfterSeconds(action, address) > 0) {
        return false;
    }
    Window &w = window(action + u' ' + address, rule.windowMs);
    if (w.count >= rule.allowed) {
        w.lockedUntil = w.start + rule.windowMs;
        return false;
    }
    ++w.count;
    return true;
}

void RateLimiter::fail(const QString &action, const QString &address, int failures, qint64 windowMs, qint64 lockMs)
{
    Window &w = m_failures[action + u' ' + address];
    const qint64 now = m_clock.elapsed();
    if (now - w.start >= windowMs) {
        w.start = now;
        w.count = 0;
    }
    if (++w.count >= failures) {
        w.lockedUntil = now + lockMs;
        w.start = now;
        w.count = 0;
    }
}

int RateLimiter::retryAfterSeconds(const QString &action, const QString &address) const
{
    const QString key = action + u' ' + address;
    const qint64 now = m_clock.elapsed();
    const qint64 until = qMax(m_windows.value(key).lockedUntil, m_failures.value(key).lockedUntil);
    return until > now ? int((until - now + 999) / 1000) : 0;
}

// Keeps the tables from growing without end under a flood of addresses: entries whose window and
// lock have both passed carry nothing.
void RateLimiter::prune()
{
    constexpr qsizetype PruneAbove = 10000;
    constexpr qint64 LongestWindowMs = 3600 * 1000;
    const qint64 now = m_clock.elapsed();
    for (QHash<QString, Window> *table : {&m_windows, &m_failures}) {
        if (table->size() < PruneAbove) {
            continue;
        }
        table->removeIf([&](const auto &entry) {
            return entry.value().lockedUntil <= now && now - entry.value().start >= LongestWindowMs;
        });
    }
}

} // namespace qrb::web
