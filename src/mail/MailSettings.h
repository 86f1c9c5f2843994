#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

namespace qrb::mail {

// How the connection to the clinic's mail server is protected. The patients' addresses and their
// cancel codes never cross a network in clear: without TLS, only a mail server on this machine.
enum class Tls {
    StartTls, // port 587 (submission): plain connection upgraded before anything is said; refused otherwise
    Smtps,    // port 465: TLS from the first byte
    Off,      // a mail server on the same machine (127.0.0.1, ::1, localhost) only
};

// Section [MAIL] of setting.ini. Without it (or with it empty) qrb-web sends no mail and asks for no
// address.
struct MailSettings {
    QString host;
    quint16 port = 587;
    Tls tls = Tls::StartTls;
    QString user;          // empty: the server takes mail without logging in
    QString password;      // PASSWORD, or the first line of PASSWORD_FILE
    QString from;          // the sender's address
    QString caFile;        // the certificate that signed the server's; empty: the system's authorities
    QString siteUrl;       // the patients' address of the booking pages, "https://…", without a trailing "/"
    int keepDays = 7;      // addresses are removed this many days after the reservation's day
    QTime remindAt{17, 0}; // the reminder goes out at this time the day before
    int perAddress = 5;    // mails a day to one address (confirmations and cancellation notices)
    int perNetwork = 20;   // mails a day asked for from one network (IPv4 /24, IPv6 /48)
};

struct MailSettingsResult {
    std::optional<MailSettings> settings; // nothing: mail is off
    QStringList errors;                   // one Japanese line per bad value
};

// Reads [MAIL] of <startDir>/setting.ini. A PASSWORD_FILE is read here, relative to startDir.
MailSettingsResult readMailSettings(const QString &startDir);

} // namespace qrb::mail
