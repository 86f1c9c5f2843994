#include "BookingForm.h"

#include "mail/Address.h"
#include "shared/Cp932.h"
#include "shared/Dates.h"
#include "shared/Kana.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace qrb::web {

namespace {

constexpr qsizetype MaxNameLength = 40;
constexpr qsizetype MaxRemarksLength = 200;
// What BIKO of a web booking starts with.
const QString WebMark = u"Web予約"_s;

bool hasControl(const QString &text, bool allowLineBreaks)
{
    for (const QChar c : text) {
        if ((c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) &&
            !(allowLineBreaks && (c == u'\n' || c == u'\r'))) {
            return true;
        }
    }
    return false;
}

// Text the desk's reports (CP932) can hold, without control characters.
std::optional<QString> checkedText(const QString &text, qsizetype maxLength, bool allowLineBreaks, const QString &label)
{
    if (text.size() > maxLength) {
        return u"%1は%2文字以内で入力してください。"_s.arg(label).arg(maxLength);
    }
    if (hasControl(text, allowLineBreaks)) {
        return u"%1に使えない文字が含まれています。"_s.arg(label);
    }
    if (encodeCp932(text).replaced > 0) {
        return u"%1に使えない文字（絵文字や一部の旧字体など）が含まれています。"_s.arg(label);
    }
    return std::nullopt;
}

// A spreadsheet runs a field starting with one of these as a formula when the clinic opens the
// history's CSV: a name or patient number never starts with one.
bool startsLikeFormula(const QString &text)
{
    return !text.isEmpty() && u"=+-@\t\r"_s.contains(text.front());
}

// Japan's numbering plan, as far as a number the clinic calls back goes: mobile (070, 080, 090), IP
// (050), other 0X0 services and 0800 numbers have 11 digits, fixed lines (area code included) and
// the other services 10. 00 and 010 lead out of the country. Nothing when the number can be called.
std::optional<QString> telephoneProblem(const QString &digits)
{
    if (!digits.startsWith(u'0') || digits.startsWith(u"00"_s) || digits.startsWith(u"010"_s)) {
        return u"この電話番号にはおかけできません。市外局番（携帯電話は 090 など）から入力してください。"_s;
    }
    static const QRegularExpression elevenDigits(u"^(0[2-9]0|0800)"_s);
    if (digits.size() != (elevenDigits.match(digits).hasMatch() ? 11 : 10)) {
        return u"この電話番号にはおかけできません。桁数をお確かめください（携帯電話と 050 の番号は11桁、固定電話は市外局番から10桁です）。"_s;
    }
    return std::nullopt;
}

std::optional<QDate> birthDate(const QString &typed)
{
    static const QRegularExpression pattern(u"^(\\d{4})[-/年]?(\\d{1,2})[-/月]?(\\d{1,2})日?$"_s);
    const QString text = halfWidth(typed).remove(u' ');
    const auto match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    return date.isValid() ? std::optional(date) : std::nullopt;
}

} // namespace

QString halfWidth(const QString &text)
{
    QString out = text.normalized(QString::NormalizationForm_KC);
    out.replace(u'ー', u'-').replace(u'−', u'-').replace(u'‐', u'-').replace(u'―', u'-');
    return out.trimmed();
}

FormInput FormInput::fromFields(const QHash<QString, QString> &f)
{
    return {f.value(u"date"_s),  f.value(u"hour"_s),   f.value(u"name"_s),   f.value(u"kana"_s),
            f.value(u"birth"_s), f.value(u"tel"_s),    f.value(u"kno"_s),    f.value(u"visited"_s),
            f.value(u"kind"_s),  f.value(u"second"_s), f.value(u"remarks"_s), f.value(u"email"_s)};
}

std::optional<QDate> isoDate(const QString &text)
{
    static const QRegularExpression pattern(u"^\\d{4}-\\d{2}-\\d{2}$"_s);
    if (!pattern.match(text).hasMatch()) {
        return std::nullopt;
    }
    const QDate date = QDate::fromString(text, Qt::ISODate);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

Validation validateForm(const FormInput &in, const Calendar &calendar, const WebSettings &settings)
{
    Validation v;
    ValidBooking b;
    auto &errors = v.errors;

    const auto date = isoDate(in.date);
    if (!date || !calendar.bookable(*date, in.hour)) {
        errors[u"slot"_s] = u"選んだ日時は予約できなくなりました。日時を選び直してください。"_s;
    } else {
        b.date = *date;
        b.hour = in.hour;
    }

    b.name = in.name.trimmed();
    if (b.name.isEmpty()) {
        errors[u"name"_s] = u"氏名を入力してください。"_s;
    } else if (const auto error = checkedText(b.name, MaxNameLength, false, u"氏名"_s)) {
        errors[u"name"_s] = *error;
    } else if (startsLikeFormula(b.name)) {
        errors[u"name"_s] = u"氏名は記号（= + - @）で始めないでください。"_s;
    }

    const QString kana = in.kana.trimmed().replace(u'　', u' ');
    if (kana.isEmpty()) {
        errors[u"kana"_s] = u"カナ氏名を入力してください。"_s;
    } else if (kana.size() > MaxNameLength || !isAllKana(QString(kana).remove(u' '))) {
        errors[u"kana"_s] = u"カナ氏名はカタカナかひらがなで入力してください。"_s;
    } else {
        b.kana = toHalfwidthKatakana(kana);
    }

    const auto birth = birthDate(in.birth);
    if (in.birth.trimmed().isEmpty()) {
        errors[u"birth"_s] = u"生年月日を入力してください。"_s;
    } else if (!birth || birth->year() < 1900 || *birth > calendar.today()) {
        errors[u"birth"_s] = u"生年月日は 2002-01-01 のように西暦で入力してください。"_s;
    } else {
        b.birthday = birth->toString(u"yyyy年MM月dd日"_s);
    }

    b.tel = halfWidth(in.tel).remove(u' ');
    b.telDigits = QString(b.tel).remove(u'-');
    static const QRegularExpression telPattern(u"^[0-9]{1,13}$"_s);
    if (b.tel.isEmpty()) {
        errors[u"tel"_s] = u"電話番号を入力してください。"_s;
    } else if (b.tel.size() > 13 || !telPattern.match(b.telDigits).hasMatch()) {
        errors[u"tel"_s] = u"電話番号は 090-1234-5678 のように数字で入力してください。"_s;
    } else if (const auto problem = telephoneProblem(b.telDigits)) {
        errors[u"tel"_s] = *problem;
    }

    b.kno = halfWidth(in.kno);
    static const QRegularExpression knoPattern(u"^[0-9A-Za-z-]{0,20}$"_s);
    if (!knoPattern.match(b.kno).hasMatch()) {
        errors[u"kno"_s] = u"患者番号は20文字以内の半角英数字で入力してください（わからなければ空欄で構いません）。"_s;
    } else if (startsLikeFormula(b.kno)) {
        errors[u"kno"_s] = u"患者番号は記号（-）で始めないでください（わからなければ空欄で構いません）。"_s;
    }

    if (in.visited == u"1"_s || in.visited == u"2"_s) {
        b.rflg = in.visited.toInt();
    } else {
        errors[u"visited"_s] = u"当院での受診歴を選んでください。"_s;
    }

    bool kindOk = false;
    const int kindIndex = in.kind.toInt(&kindOk);
    if (!kindOk || kindIndex < 0 || kindIndex > 3 || !settings.kinds.contains(static_cast<Kind>(kindIndex))) {
        errors[u"kind"_s] = u"種別を選んでください。"_s;
    } else {
        b.kind = static_cast<Kind>(kindIndex);
    }
    if (b.kind == Kind::NewPair && kindOk && !errors.contains(u"slot"_s)) {
        const QStringList parts = in.second.split(u' ');
        const auto secondDate = parts.size() == 2 ? isoDate(parts.at(0)) : std::nullopt;
        if (in.second.isEmpty()) {
            errors[u"second"_s] = u"2回目の日時を選んでください。"_s;
        } else if (!secondDate || !calendar.secondDoseBookable(b.date, *secondDate, parts.at(1))) {
            errors[u"second"_s] = u"2回目の日時を、1回目より後の空いている日時から選んでください。"_s;
        } else {
            b.secondDate = *secondDate;
            b.secondHour = parts.at(1);
        }
    }

    b.remarks = in.remarks.trimmed().replace(u"\r\n"_s, u"\n"_s);
    if (const auto error = checkedText(b.remarks, MaxRemarksLength, true, u"備考"_s)) {
        errors[u"remarks"_s] = *error;
    }

    const mail::AddressCheck address = mail::checkAddress(in.email);
    if (!address.error.isEmpty()) {
        errors[u"email"_s] = address.error;
    }
    b.email = address.address;

    if (errors.isEmpty()) {
        v.booking = b;
    }
    return v;
}

OnlineBooking recordsOf(const ValidBooking &b)
{
    BookingRecord first;
    first.kno = b.kno;
    first.knm = b.name;
    first.kknm = b.kana;
    first.ydate = dateKey(b.date);
    first.ytime = b.hour;
    first.bflg = 0;
    first.birthday = b.birthday;
    first.tel1 = b.tel;
    first.rflg = b.rflg;
    first.biko = b.remarks.isEmpty() ? WebMark : WebMark + u' ' + b.remarks;
    first.sflg = kindSflg(b.kind);
    first.scnt = kindScnt(b.kind);

    OnlineBooking booking;
    booking.first = first;
    if (b.kind == Kind::NewPair) {
        BookingRecord second = first;
        second.ydate = dateKey(b.secondDate);
        second.ytime = b.secondHour;
        second.sflg = 2;
        second.scnt = 2;
        booking.second = second;
    }
    booking.phoneDigits = b.telDigits;
    return booking;
}

ValidBooking bookingOfRows(const QList<Reservation> &doses)
{
    ValidBooking b;
    for (const Reservation &dose : doses) {
        const QDate day = dateFromKey(dose.ydate).value_or(QDate());
        if (dose.sflg == 2 && dose.scnt == 2) {
            b.secondDate = day;
            b.secondHour = dose.ytime;
            continue;
        }
        b.date = day;
        b.hour = dose.ytime;
    }
    if (doses.isEmpty()) {
        return b;
    }
    const Reservation &r = doses.first();
    b.name = r.knm;
    b.kana = r.kknm;
    b.birthday = r.birthday;
    b.tel = r.tel1;
    b.kno = r.kno;
    b.rflg = r.rflg.value_or(0);
    b.kind = static_cast<Kind>(qBound(0, r.sflg.value_or(1) - 1, 3));
    b.remarks = r.biko.startsWith(WebMark) ? r.biko.mid(WebMark.size()).trimmed() : r.biko;
    return b;
}

} // namespace qrb::web
