#include "BookingForm.h"

#include "mail/Address.h"
#include "shared/Cp932.h"
#include "shared/Dates.h"
#include "shared/Eras.h"
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

// The common forms of characters the clinic's files (CP932) cannot hold, as patients know them from
// their own forms: 𠮷 (つちよし) is written 吉 there.
QString commonForm(const QString &character)
{
    static const QHash<QString, QString> forms{
        {u"𠮷"_s, u"吉"_s}, {u"𡈽"_s, u"土"_s}, {u"𠮟"_s, u"叱"_s}, {u"剝"_s, u"剥"_s}, {u"頰"_s, u"頬"_s},
        {u"鷗"_s, u"鴎"_s}, {u"㐂"_s, u"喜"_s}, {u"塡"_s, u"填"_s}, {u"俱"_s, u"倶"_s}, {u"繫"_s, u"繋"_s},
        {u"𣘺"_s, u"橋"_s}, {u"𨺉"_s, u"隆"_s}};
    return forms.value(character);
}

// The first character of a text that CP932 cannot hold, whole even when it lies outside the BMP.
QString firstUnencodable(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        if (encodeCp932(character).replaced > 0) {
            return character;
        }
        i += length - 1;
    }
    return {};
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
    if (const QString character = firstUnencodable(text); !character.isEmpty()) {
        const QString common = commonForm(character);
        return common.isEmpty()
                   ? u"%1の「%2」は当院の記録に使えない文字です（絵文字や一部の旧字体など）。ほかの文字に置き換えてください。"_s
                         .arg(label, character)
                   : u"%1の「%2」は当院の記録に使えない文字です。「%3」に置き換えて入力してください。"_s.arg(
                         label, character, common);
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

// The era a birth date names by its name or its letter (S60.4.12), as written on Japanese forms.
std::optional<int> eraOfPrefix(const QString &prefix)
{
    static const QHash<QString, int> letters{
        {u"M"_s, Meiji}, {u"T"_s, Taisho}, {u"S"_s, Showa}, {u"H"_s, Heisei}, {u"R"_s, Reiwa}};
    return letters.contains(prefix) ? std::optional(letters.value(prefix)) : eraCode(prefix);
}

struct BirthReading {
    std::optional<QDate> date;
    QString error; // why it is no birth date, when it is not
};

const QString BirthFormsHint = u"19850412、1985/4/12、昭和60年4月12日、S60.4.12 のように入力してください。"_s;

// The birth date as elderly patients write it: a western date (19850412, 1985-4-12, 1985/4/12,
// 1985.4.12, 1985年4月12日) or an era date (昭和60年4月12日, S60.4.12, and 60.4.12 or 600412 with the
// era chosen beside the box). `chosenEra` is the BFLG code of that choice.
BirthReading readBirthDate(const QString &typed, int chosenEra, QDate today)
{
    static const QRegularExpression western(u"^(\\d{4})(?:(\\d{2})(\\d{2})|[-/.年](\\d{1,2})[-/.月](\\d{1,2})日?)$"_s);
    static const QRegularExpression era(
        u"^(明治|大正|昭和|平成|令和|[MTSHR])?(?:(\\d{2})(\\d{2})(\\d{2})|(\\d{1,2}|元)[-/.年](\\d{1,2})[-/.月](\\d{1,2})日?)$"_s);
    const QString text = halfWidth(typed).remove(u' ').toUpper();
    const auto number = [](const QRegularExpressionMatch &m, int compact, int separated) {
        return (m.captured(compact).isEmpty() ? m.captured(separated) : m.captured(compact)).toInt();
    };
    std::optional<QDate> date;
    int code = Seireki;
    if (const auto m = western.match(text); m.hasMatch()) {
        date = QDate(m.captured(1).toInt(), number(m, 2, 4), number(m, 3, 5));
    } else if (const auto e = era.match(text); e.hasMatch()) {
        code = e.captured(1).isEmpty() ? chosenEra : eraOfPrefix(e.captured(1)).value_or(Seireki);
        // An era the form never offered (a value sent by hand) is no era either.
        if (code == Seireki || !eraName(code)) {
            return {std::nullopt, u"和暦のときは元号（昭和など）を選ぶか、S60.4.12 のように頭に付けて入力してください。"_s};
        }
        const QString year = e.captured(2).isEmpty() ? e.captured(5) : e.captured(2);
        const int eraYear = year == u"元"_s ? 1 : year.toInt();
        if (eraYear >= 1) {
            date = QDate(*westernYear(code, eraYear), number(e, 3, 6), number(e, 4, 7));
        }
    }
    if (!date || !date->isValid() || date->year() < 1900 || *date > today) {
        return {std::nullopt, u"生年月日は "_s + BirthFormsHint};
    }
    if (!withinEra(code, *date)) {
        return {std::nullopt, u"%1にはその日付がありません。元号をお確かめください。"_s.arg(*eraName(code))};
    }
    return {date, {}};
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
    return {f.value(u"date"_s),  f.value(u"hour"_s),   f.value(u"name"_s),    f.value(u"kana"_s),
            f.value(u"birth"_s), f.value(u"tel"_s),    f.value(u"kno"_s),     f.value(u"visited"_s),
            f.value(u"kind"_s),  f.value(u"second"_s), f.value(u"remarks"_s), f.value(u"email"_s),
            f.value(u"era"_s)};
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

    if (in.birth.trimmed().isEmpty()) {
        errors[u"birth"_s] = u"生年月日を入力してください。"_s;
    } else if (const BirthReading birth = readBirthDate(in.birth, in.era.toInt(), calendar.today()); !birth.date) {
        errors[u"birth"_s] = birth.error;
    } else {
        // Stored as the desk stores eight typed digits, whatever the calendar she wrote it in.
        b.birth = *birth.date;
        b.birthday = b.birth.toString(u"yyyy年MM月dd日"_s);
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

QString birthDateShown(QDate birth)
{
    QString text = u"%1年%2月%3日"_s.arg(birth.year()).arg(birth.month()).arg(birth.day());
    for (const int code : {Reiwa, Heisei, Showa, Taisho, Meiji}) {
        if (withinEra(code, birth)) {
            const int year = birth.year() - *westernYear(code, 1) + 1;
            text += u"・"_s + *eraName(code) + (year == 1 ? u"元"_s : QString::number(year)) + u"年"_s;
            break;
        }
    }
    return text;
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
    static const QRegularExpression western(u"^(\\d{4})年(\\d{2})月(\\d{2})日$"_s);
    if (const auto m = western.match(r.birthday); m.hasMatch() && r.bflg.value_or(Seireki) == Seireki) {
        b.birth = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    }
    b.tel = r.tel1;
    b.kno = r.kno;
    b.rflg = r.rflg.value_or(0);
    b.kind = static_cast<Kind>(qBound(0, r.sflg.value_or(1) - 1, 3));
    b.remarks = r.biko.startsWith(WebMark) ? r.biko.mid(WebMark.size()).trimmed() : r.biko;
    return b;
}

} // namespace qrb::web
