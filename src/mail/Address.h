#pragma once

#include <QByteArray>
#include <QString>

namespace qrb::mail {

// An address as typed on the booking form, read into the form the mail server is given: full-width
// letters and digits made half-width, blanks around it dropped, the domain in lower case (a Japanese
// domain in its ASCII form). Old mobile addresses with dots in a row or before the "@" are accepted,
// since the carriers handed them out. Anything that could add a recipient or a header (a line break,
// a second "@", a comma, angle brackets, quotes) is refused.
struct AddressCheck {
    QString address; // empty when nothing was typed or it was refused
    QString error;   // the Japanese reason it was refused, empty when it was not
};
AddressCheck checkAddress(const QString &typed);

// What the per-address limit counts: the address without a "+tag" and in lower case, hashed, so that
// victim+1@… and Victim@… count as one address and the count keeps no address.
QByteArray addressKey(const QString &address);

// Who a booking was for, as the desk stores it (name, kana, birth date, telephone), hashed: enough
// to recognise the same patient booked again at the desk without keeping a copy of her data. Not a
// secret (the fields are guessable); only a way not to store them twice.
QByteArray patientKey(const QString &knm, const QString &kknm, const QString &birthday, const QString &tel1);

// What the per-network limit counts: the /24 of an IPv4 client, the /48 of an IPv6 one, hashed.
QByteArray networkKey(const QString &client);

} // namespace qrb::mail
