#include "Security.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <cctype>

using namespace Qt::StringLiterals;

namespace qrb::web {

namespace {

// Crockford's base 32: no I, L, O or U, so that a code read aloud or copied by hand survives.
constexpr char CodeAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int CodeLength = 16; // 16 × 5 = 80 bits

} // namespace

Secrets::Secrets(QByteArray key)
    : m_key(std::move(key))
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

QByteArray Secrets::newCookie() const
{
    const QByteArray random = randomHex(16);
    return random + '.' + hmac("cookie:" + random).left(16).toHex();
}

bool Secrets::cookieValid(const QByteArray &cookie) const
{
    const qsizetype dot = cookie.indexOf('.');
    if (cookie.size() != 65 || dot != 32) {
        return false;
    }
    const QByteArray random = cookie.left(32);
    for (const char c : random) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return sameBytes(hmac("cookie:" + random).left(16).toHex(), cookie.mid(33));
}

QByteArray Secrets::csrfToken(const QByteArray &cookie) const
{
    return hmac("csrf:" + cookie).toHex();
}

bool Secrets::csrfValid(const QByteArray &cookie, const QByteArray &token) const
{
    return cookieValid(cookie) && sameBytes(csrfToken(cookie), token);
}

QByteArray Secrets::resultSignature(const QByteArray &cookie, const QByteArray &result) const
{
    return hmac("result:" + cookie + ':' + result).toHex();
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

QByteArray formCookieName(bool https)
{
    return https ? "__Host-qrb_form" : "qrb_form";
}

QByteArray formCookieHeader(const QByteArray &cookie, bool https)
{
    return formCookieName(https) + '=' + cookie + "; Path=/; HttpOnly; SameSite=Lax" + (https ? "; Secure" : "");
}

QString logText(const QString &value)
{
    QString text;
    text.reserve(value.size());
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        // C0, DEL, C1, and the Unicode line and paragraph separators some log viewers break at.
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029 || u == u'\\') {
            text += u"\\x%1"_s.arg(uint(u), 2, 16, QLatin1Char('0'));
        } else {
            text += c;
        }
    }
    return text;
}

ClientNetworks clientNetworks(const QString &client)
{
    QHostAddress address(client);
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped) {
        address = QHostAddress(v4);
    }
    const auto subnet = [&address](int bits) -> QString {
        const auto [prefix, length] = QHostAddress::parseSubnet(address.toString() + u'/' + QString::number(bits));
        return prefix.toString() + u'/' + QString::number(length);
    };
    ClientNetworks networks{client, client};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        networks.address = address.toString();
        networks.network = subnet(24);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        networks.address = subnet(64);
        networks.network = subnet(48);
    }
    return networks;
}

RateLimiter::RateLimiter(Database &db, const Limits &limits, int sitePerMinute)
    : m_db(db)
    , m_limits(limits)
    , m_sitePerMinute(sitePerMinute)
{
}

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

const QString SiteBookings = u"booked site"_s;
constexpr qint64 Minute = 60 * 1000;

} // namespace

QList<Tally> RateLimiter::tallies(const Limits::PerClient &rule, const QString &action,
                                  const ClientNetworks &client) const
{
    QList<Tally> list{{action + u' ' + client.address, rule.address.allowed, rule.address.windowMs}};
    if (client.network != client.address) {
        list.append({action + u' ' + client.network, rule.network.allowed, rule.network.windowMs});
    }
    return list;
}

QStringList RateLimiter::lockKeys(Action action, const ClientNetworks &client) const
{
    if (action != Action::Check) {
        return {};
    }
    return {u"wrong "_s + client.address, u"wrong "_s + client.network};
}

bool RateLimiter::allow(Action action, const QString &client)
{
    const ClientNetworks networks = clientNetworks(client);
    QList<Tally> list = action == Action::Book ? tallies(m_limits.book, u"book"_s, networks)
                                               : tallies(m_limits.check, u"check"_s, networks);
    if (action == Action::Book) {
        list.append({SiteBookings, m_sitePerMinute, Minute, true});
    }
    QString refusedBy;
    m_waitMs = countAttempt(m_db, list, lockKeys(action, networks), nowMs(), &refusedBy);
    m_siteBusy = refusedBy == SiteBookings;
    return m_waitMs <= 0;
}

bool RateLimiter::fail(Action action, const QString &client)
{
    const ClientNetworks networks = clientNetworks(client);
    m_failuresLeft = countFailure(m_db, tallies(m_limits.wrongCodes, u"wrong"_s, networks), m_limits.lockoutMs, nowMs());
    m_waitMs = lockedFor(m_db, lockKeys(action, networks), nowMs());
    m_siteBusy = false;
    return m_waitMs > 0;
}

void RateLimiter::booked()
{
    countDone(m_db, {SiteBookings, m_sitePerMinute, Minute}, nowMs());
}

int RateLimiter::retryAfterSeconds() const
{
    return int(qMax<qint64>(1, (m_waitMs + 999) / 1000));
}

} // namespace qrb::web
