#include "MailSettings.h"

#include "Address.h"
#include "config/IniFile.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace qrb::mail {

namespace {

bool isThisMachine(const QString &host)
{
    return host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

} // namespace

MailSettingsResult readMailSettings(const QString &startDir)
{
    MailSettingsResult result;
    if (ini_section(startDir, u"MAIL"_s).isEmpty()) {
        return result;
    }
    MailSettings s;
    QStringList &errors = result.errors;
    const auto read = [&](const QString &key) { return ini_read(startDir, u"MAIL"_s, key, QString()).trimmed(); };
    const auto number = [&](const QString &key, int low, int high, int &target) {
        const QString text = read(key);
        if (text.isEmpty()) {
            return;
        }
        bool ok = false;
        const int value = text.toInt(&ok);
        if (ok && value >= low && value <= high) {
            target = value;
        } else {
            errors << u"[MAIL] %1=%2 は %3〜%4 の整数で指定してください。"_s.arg(key, text).arg(low).arg(high);
        }
    };

    s.host = read(u"HOST"_s);
    if (s.host.isEmpty()) {
        errors
            << u"[MAIL] HOST にメールサーバーの名前を指定してください（メールを送らないときは [MAIL] を書かないでください）。"_s;
    }
    const QString tls = read(u"TLS"_s).toUpper();
    if (tls.isEmpty() || tls == u"STARTTLS"_s) {
        s.tls = Tls::StartTls;
    } else if (tls == u"SMTPS"_s) {
        s.tls = Tls::Smtps;
    } else if (tls == u"OFF"_s) {
        s.tls = Tls::Off;
        if (!s.host.isEmpty() && !isThisMachine(s.host)) {
            errors << u"[MAIL] TLS=OFF は同じコンピュータのメールサーバー（127.0.0.1）にだけ使えます。"
                      u"患者さんのメールアドレスと取消コードを暗号化せずにネットワークに流さないためです。"_s;
        }
    } else {
        errors << u"[MAIL] TLS=%1 は STARTTLS、SMTPS、OFF のどれかで指定してください。"_s.arg(tls);
    }
    int port = s.tls == Tls::Smtps ? 465 : s.tls == Tls::Off ? 25 : 587;
    number(u"PORT"_s, 1, 65535, port);
    s.port = static_cast<quint16>(port);

    s.user = read(u"USER"_s);
    s.password = ini_read(startDir, u"MAIL"_s, u"PASSWORD"_s, QString());
    if (const QString file = read(u"PASSWORD_FILE"_s); !file.isEmpty()) {
        if (!s.password.isEmpty()) {
            errors << u"[MAIL] PASSWORD と PASSWORD_FILE はどちらか一方だけ指定してください。"_s;
        }
        QFile secret(QDir(startDir).filePath(file));
        if (!secret.open(QIODevice::ReadOnly)) {
            errors << u"[MAIL] PASSWORD_FILE=%1 を読めません: %2"_s.arg(file, secret.errorString());
        } else {
            s.password = QString::fromUtf8(secret.readLine()).remove(u'\n').remove(u'\r');
        }
    }
    if (!s.password.isEmpty() && s.user.isEmpty()) {
        errors << u"[MAIL] パスワードを使うときは USER も指定してください。"_s;
    }

    const AddressCheck from = checkAddress(read(u"FROM"_s));
    s.from = from.address;
    if (s.from.isEmpty()) {
        errors << u"[MAIL] FROM に送信元のメールアドレスを指定してください（例: yoyaku@example-clinic.jp）。"_s;
    }
    s.caFile = read(u"CAFILE"_s);
    if (!s.caFile.isEmpty()) {
        s.caFile = QDir(startDir).absoluteFilePath(s.caFile);
        if (!QFile::exists(s.caFile)) {
            errors << u"[MAIL] CAFILE=%1 がありません。"_s.arg(s.caFile);
        }
    }

    // The link in every mail: it must lead to the proxy's HTTPS, never to qrb-web's own plain HTTP.
    const QString site = read(u"URL"_s);
    const QUrl url(site, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"https"_s || url.host().isEmpty() || url.hasQuery() || url.hasFragment()) {
        errors << u"[MAIL] URL に患者さんが開く予約ページのアドレスを https:// から指定してください"
                  u"（例: https://yoyaku.example-clinic.jp）。"_s;
    } else {
        s.siteUrl = url.toString(QUrl::FullyEncoded);
        while (s.siteUrl.endsWith(u'/')) {
            s.siteUrl.chop(1);
        }
    }

    number(u"KEEP_DAYS"_s, 0, 366, s.keepDays);
    number(u"PER_ADDRESS"_s, 1, 1000, s.perAddress);
    number(u"PER_NETWORK"_s, 1, 100000, s.perNetwork);
    if (const QString at = read(u"REMIND_AT"_s); !at.isEmpty()) {
        static const QRegularExpression clock(u"^(\\d{1,2}):(\\d{2})$"_s);
        const auto match = clock.match(at);
        const QTime time = match.hasMatch() ? QTime(match.captured(1).toInt(), match.captured(2).toInt()) : QTime();
        if (!time.isValid()) {
            errors << u"[MAIL] REMIND_AT=%1 は 17:00 のように時刻で指定してください。"_s.arg(at);
        } else {
            s.remindAt = time;
        }
    }
    if (errors.isEmpty()) {
        result.settings = s;
    }
    return result;
}

} // namespace qrb::mail
