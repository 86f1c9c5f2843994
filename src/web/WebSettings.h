#pragma once

#include "config/ClosedDays.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

namespace qrb::web {

// The kinds of vaccination (種別) a patient may choose online, with the codes the desk stores.
enum class Kind { Seasonal, NewPair, NewFirst, NewSecond };
// "季節性", "新型", "新型　１回目", "新型  ２回目": the desk's texts.
QString kindText(Kind kind);
// The SFLG and SCNT of the (first) record of a kind.
int kindSflg(Kind kind);
int kindScnt(Kind kind);

// Section [WEB] of setting.ini.
struct WebSettings {
    QHostAddress listen{QHostAddress::LocalHost};
    quint16 port = 8080;
    int days = 30;       // days offered, today included
    int cutoffHours = 2; // a slot starting sooner than this is no longer offered
    QList<Kind> kinds{Kind::Seasonal};
    int perPhone = 8; // bookings from today on that one telephone number may hold
    int share = 100;  // percent of each slot's places offered online; the rest stays for the desk
    int perMinute = 60; // web bookings the whole site takes in one minute, whoever sends them
    // Requests answered at once, each by a worker with a database connection of its own; one per core
    // when setting.ini does not say.
    int workers = 1;
    // The clinic's time zone (an IANA name): it decides today, the days offered and the cut-off,
    // whatever zone the machine itself runs in.
    QByteArray timeZone = "Asia/Tokyo";
    QString clinic;
    QString tel;
    QString notice;
    // The days the clinic is shut (section [CLOSED]): never offered online.
    ClosedDays closed;
};

struct WebSettingsResult {
    WebSettings settings;
    QStringList errors; // one Japanese line per bad value; empty when all is well
};

// Reads [WEB] and [CLOSED] of <startDir>/setting.ini; a missing or empty key takes its default. A
// line of [CLOSED] that cannot be read is an error too: the page must not offer a day the clinic is shut.
WebSettingsResult readWebSettings(const QString &startDir);

} // namespace qrb::web
