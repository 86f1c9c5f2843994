#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

namespace qrb::mail {

// What every mail says of the clinic: its name, telephone and notice as the pages show them, the
// address of the pages, and the sender.
struct Letterhead {
    QString clinic;
    QString tel;
    QString notice;
    QString siteUrl; // "https://…" without a trailing "/"
    QString from;
};

// One dose of a booking as the patient sees it.
struct Dose {
    int yno = 0;
    QDate date;
    QString hour; // "08" … "17"
};

// A mail's subject and body, before it is wrapped for sending. Nothing in it but what the patient
// typed or was shown on the done page: no name, no birth date, no telephone number, no tracking.
struct Letter {
    QString subject;
    QString body; // lines separated by "\n"
};

// Right after booking: the day and hour of every dose with its number, the cancel code, and the
// check page with the number filled in (never the code: an address ends up in logs and histories).
Letter confirmationLetter(const Letterhead &head, const QList<Dose> &doses, const QString &cancelCode);
// The day before a dose (on the day itself when the day before was missed). `ofPair` names the
// dose 1回目 or 2回目.
Letter reminderLetter(const Letterhead &head, const Dose &dose, QDate today, int doseNumber, bool ofPair);
// After the patient cancelled online: what was cancelled.
Letter cancellationLetter(const Letterhead &head, const QList<Dose> &doses);

// The whole message as it goes to the mail server: 7-bit headers (the subject and the sender's name
// encoded as RFC 2047 words, lines folded within 78 characters), the body UTF-8 in base64, CR LF.
QByteArray mimeMessage(const Letterhead &head, const QString &to, const Letter &letter, const QDateTime &date,
                       const QByteArray &messageId);

} // namespace qrb::mail
