#pragma once

#include "Calendar.h"
#include "WebSettings.h"
#include "db/WebBooking.h"

#include <QDate>
#include <QHash>
#include <QString>

#include <optional>

namespace qrb::web {

// The fields of the booking form as sent, by their names in the form.
struct FormInput {
    QString date;    // "2009-10-13"
    QString hour;    // "13"
    QString name;    // 氏名
    QString kana;    // カナ氏名
    QString birth;   // 生年月日
    QString tel;     // 電話番号
    QString kno;     // 患者番号 (optional)
    QString visited; // "1" あり, "2" なし
    QString kind;    // index of Kind
    QString second;  // "2009-11-03 13": the second dose of a pair
    QString remarks; // 備考 (optional)
    QString email;   // メールアドレス (optional; asked only where the clinic sends mail)
    QString era;     // the era chosen beside the birth date: its BFLG code, "0" for 西暦

    static FormInput fromFields(const QHash<QString, QString> &fields);
};

// A form whose every field reads well, as the desk would store it.
struct ValidBooking {
    QDate date;
    QString hour;
    QString name;
    QString kana;     // half-width katakana
    QString birthday; // "2002年01月01日", as the desk writes a western birth date (BFLG 0)
    QDate birth;      // the date it names; invalid for a text the desk typed some other way
    QString tel;      // as typed, in half-width characters
    QString telDigits;
    QString kno;
    int rflg = 0;
    Kind kind = Kind::Seasonal;
    QDate secondDate; // pairs only
    QString secondHour;
    QString remarks;
    QString email; // as the mail server takes it; empty without one
};

struct Validation {
    std::optional<ValidBooking> booking;
    QHash<QString, QString> errors; // field name → Japanese message shown beside it
};

// Reads and checks every field; the slot must be bookable now. Nothing is stored.
Validation validateForm(const FormInput &input, const Calendar &calendar, const WebSettings &settings);

// The records the desk would store for the booking, first dose first. Web bookings are marked at the
// start of BIKO, so that the desk recognises them without a new field.
OnlineBooking recordsOf(const ValidBooking &booking);

// The booking as stored, read back from its rows (first dose first): what a done page shows again.
ValidBooking bookingOfRows(const QList<Reservation> &doses);

// Full-width digits, letters and hyphens as a phone keyboard may send them (ー, −, ‐, ― too), made
// half-width: how typed numbers and codes are read.
QString halfWidth(const QString &text);

// A birth date as the patient reads it back: "1985年4月12日・昭和60年".
QString birthDateShown(QDate birth);

// "2009-10-13" → the date; nothing for any other text.
std::optional<QDate> isoDate(const QString &text);

} // namespace qrb::web
