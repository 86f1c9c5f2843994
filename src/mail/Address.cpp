#include "Address.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QStringList>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace qrb::mail {

namespace {

constexpr qsizetype MaxAddress = 254;
constexpr qsizetype MaxLocal = 64;
constexpr qsizetype MaxLabel = 63;

bool isLocalCharacter(QChar c)
{
    static const QString specials = u"!#$%&'*+-/=?^_`{|}~."_s;
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || specials.contains(c);
}

bool isDomainLabel(const QString &label)
{
    if (label.isEmpty() || label.size() > MaxLabel || label.startsWith(u'-') || label.endsWith(u'-')) {
        return false;
    }
    for (const QChar c : label) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-')) {
            return false;
        }
    }
    return true;
}

} // namespace

AddressCheck checkAddress(const QString &typed)
{
    const QString text = typed.normalized(QString::NormalizationForm_KC).trimmed();
    if (text.isEmpty()) {
        return {};
    }
    const QString shape = u"メールアドレスは example@example.jp のように入力してください。"_s;
    if (text.size() > MaxAddress) {
        return {{}, u"メールアドレスは%1文字以内で入力してください。"_s.arg(MaxAddress)};
    }
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c.isSpace()) {
            return {{}, u"メールアドレスに空白や改行などの使えない文字が含まれています。"_s};
        }
    }
    if (text.count(u'@') != 1) {
        return {{}, shape};
    }
    const qsizetype at = text.indexOf(u'@');
    const QString local = text.left(at);
    if (local.isEmpty() || local.size() > MaxLocal || !std::all_of(local.begin(), local.end(), isLocalCharacter)) {
        return {{}, shape};
    }
    // A Japanese domain (例え.jp) goes to the mail server in its ASCII form.
    const QString domain = QString::fromLatin1(QUrl::toAce(text.mid(at + 1).toLower()));
    const QStringList labels = domain.split(u'.');
    if (domain.size() > MaxAddress - 2 || labels.size() < 2 ||
        !std::all_of(labels.begin(), labels.end(), isDomainLabel) || !labels.last().front().isLetter()) {
        return {{}, shape};
    }
    const QString address = local + u'@' + domain;
    if (address.size() > MaxAddress) {
        return {{}, u"メールアドレスは%1文字以内で入力してください。"_s.arg(MaxAddress)};
    }
    return {address, {}};
}

QByteArray addressKey(const QString &address)
{
    const qsizetype at = address.lastIndexOf(u'@');
    QString local = address.left(at);
    if (const qsizetype plus = local.indexOf(u'+'); plus > 0) {
        local.truncate(plus);
    }
    return QCryptographicHash::hash((local + address.mid(at)).toLower().toUtf8(), QCryptographicHash::Sha256).toHex();
}

QByteArray patientKey(const QString &knm, const QString &kknm, const QString &birthday, const QString &tel1)
{
    const QString fields = QStringList{knm, kknm, birthday, tel1}.join(QChar(0x1f));
    return QCryptographicHash::hash(fields.toUtf8(), QCryptographicHash::Sha256).toHex();
}

QByteArray networkKey(const QString &client)
{
    QHostAddress host(client);
    bool mapped = false;
    const quint32 v4 = host.toIPv4Address(&mapped);
    QString network = client;
    if (mapped) {
        network = QHostAddress(v4 & 0xFFFFFF00u).toString() + u"/24"_s;
    } else if (host.protocol() == QAbstractSocket::IPv6Protocol) {
        Q_IPV6ADDR bytes = host.toIPv6Address();
        std::fill(std::begin(bytes.c) + 6, std::end(bytes.c), quint8(0));
        network = QHostAddress(bytes).toString() + u"/48"_s;
    }
    return QCryptographicHash::hash(network.toUtf8(), QCryptographicHash::Sha256).toHex();
}

} // namespace qrb::mail
