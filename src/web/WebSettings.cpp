#include "WebSettings.h"

#include "config/IniFile.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace qrb::web {

QString kindText(Kind kind)
{
    switch (kind) {
    case Kind::Seasonal:
        return u"季節性"_s;
    case Kind::NewPair:
        return u"新型"_s;
    case Kind::NewFirst:
        return u"新型　１回目"_s;
    case Kind::NewSecond:
        return u"新型  ２回目"_s;
    }
    return {};
}

int kindSflg(Kind kind)
{
    return static_cast<int>(kind) + 1;
}

int kindScnt(Kind kind)
{
    return kind == Kind::NewSecond ? 2 : 1;
}

namespace {

// The desk's texts differ in their blanks (a full-width one, two half-width ones); in setting.ini
// a clinic writes them as it likes.
std::optional<Kind> kindOfText(QString text)
{
    text.remove(u' ').remove(u'　');
    text.replace(u'1', u'１').replace(u'2', u'２');
    for (const Kind k : {Kind::Seasonal, Kind::NewPair, Kind::NewFirst, Kind::NewSecond}) {
        if (kindText(k).remove(u' ').remove(u'　') == text) {
            return k;
        }
    }
    return std::nullopt;
}

std::optional<int> wholeNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

} // namespace

WebSettingsResult readWebSettings(const QString &startDir)
{
    WebSettingsResult result;
    WebSettings &s = result.settings;
    s.closed = ClosedDays::read(startDir);
    result.errors << s.closed.problems();
    const auto read = [&](const QString &key) { return ini_read(startDir, u"WEB"_s, key, QString()).trimmed(); };
    const auto number = [&](const QString &key, int low, int high, int &target) {
        const QString text = read(key);
        if (text.isEmpty()) {
            return;
        }
        if (const auto value = wholeNumber(text, low, high)) {
            target = *value;
        } else {
            result.errors << u"[WEB] %1=%2 は %3〜%4 の整数で指定してください。"_s.arg(key, text).arg(low).arg(high);
        }
    };

    if (const QString listen = read(u"LISTEN"_s); !listen.isEmpty()) {
        if (!s.listen.setAddress(listen)) {
            result.errors << u"[WEB] LISTEN=%1 は IP アドレスではありません（例: 127.0.0.1）。"_s.arg(listen);
        }
    }
    int port = s.port;
    number(u"PORT"_s, 1, 65535, port);
    s.port = static_cast<quint16>(port);
    number(u"DAYS"_s, 1, 366, s.days);
    number(u"CUTOFF"_s, 0, 24 * 14, s.cutoffHours);
    number(u"PER_PHONE"_s, 1, 1000, s.perPhone);
    number(u"SHARE"_s, 1, 100, s.share);
    number(u"PER_MINUTE"_s, 1, 100000, s.perMinute);
    s.workers = qMax(1, QThread::idealThreadCount());
    number(u"WORKERS"_s, 1, 64, s.workers);
    if (const QString kinds = read(u"KINDS"_s); !kinds.isEmpty()) {
        s.kinds.clear();
        const QStringList parts = QString(kinds).replace(u'、', u',').replace(u'，', u',').split(u',');
        for (const QString &part : parts) {
            const auto kind = kindOfText(part);
            if (!kind) {
                result.errors << u"[WEB] KINDS の「%1」は種別ではありません（季節性、新型、新型１回目、新型２回目）。"_s
                                     .arg(part.trimmed());
            } else if (!s.kinds.contains(*kind)) {
                s.kinds << *kind;
            }
        }
    }
    // The process keeps its day and hour in this zone (TZ), so the C library must know it as well: a
    // zone it cannot find would silently be UTC.
    QString zone = read(u"TIMEZONE"_s);
    if (zone.isEmpty()) {
        zone = QString::fromLatin1(s.timeZone);
    }
    static const QRegularExpression zoneName(u"^[A-Za-z][A-Za-z0-9_+-]*(/[A-Za-z0-9_+-]+)*$"_s);
    if (zoneName.match(zone).hasMatch() && QTimeZone(zone.toLatin1()).isValid() &&
        QFileInfo(u"/usr/share/zoneinfo/"_s + zone).isFile()) {
        s.timeZone = zone.toLatin1();
    } else {
        result.errors
            << u"[WEB] TIMEZONE=%1 はタイムゾーンの名前ではありません（例: Asia/Tokyo。tzdata パッケージが必要です）。"_s
                   .arg(zone);
    }
    s.clinic = read(u"CLINIC"_s);
    s.tel = read(u"TEL"_s);
    s.notice = read(u"NOTICE"_s);
    return result;
}

} // namespace qrb::web
