#include "EntryRules.h"

#include "shared/Dates.h"
#include "shared/Eras.h"
#include "shared/Text.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace qrb {

QString slotLine(int reservations, int places)
{
    return u"現在の予約人数："_s + QString::number(reservations) + u"人"_s + u"    予約可能人数：あと"_s +
           QString::number(places - reservations) + u"人"_s;
}

SlotFill slotFill(int reservations, int places)
{
    if (reservations > places) {
        return SlotFill::Over;
    }
    return reservations == places && places > 0 ? SlotFill::Full : SlotFill::Open;
}

std::optional<Slot> slotFromTexts(const QString &year, const QString &month, const QString &day, const QString &hour)
{
    const auto date = dateFromTexts(year, month, day);
    if (!date) {
        return std::nullopt;
    }
    const QString key = dateKey(year, month, day);
    if (key != dateKey(*date)) {
        return std::nullopt;
    }
    bool isSlot = false;
    for (int i = 0; i < SlotCount; ++i) {
        isSlot = isSlot || slotKey(i) == hour;
    }
    if (!isSlot) {
        return std::nullopt;
    }
    return Slot{*date, key, hour};
}

QString halfwidthDigits(const QString &typed)
{
    QString digits = typed;
    for (QChar &c : digits) {
        if (c >= u'０' && c <= u'９') {
            c = QChar(u'0' + (c.unicode() - u'０'));
        }
    }
    return digits;
}

QString pickerText(const QString &typed)
{
    const QString text = halfwidthDigits(typed.trimmed());
    if (text.size() == 1 && text.at(0).isDigit() && text.at(0).unicode() < 0x80) {
        return u'0' + text;
    }
    return text;
}

std::optional<BirthDateText> rewriteBirthDate(const QString &entered)
{
    // "２００２０１０１" typed with the input method still on is stored as the ASCII digits.
    const QString typed = halfwidthDigits(entered);
    if (typed.size() == 8) {
        return BirthDateText{typed.mid(0, 4) + u"年"_s + typed.mid(4, 2) + u"月"_s + typed.mid(6, 2) + u"日"_s, 0};
    }
    if (typed.size() == 6) {
        return BirthDateText{typed.mid(0, 2) + u"年"_s + typed.mid(2, 2) + u"月"_s + typed.mid(4, 2) + u"日"_s, 1};
    }
    return std::nullopt;
}

std::optional<int> get_age(int mode, const QString &era, const QString &dateText, QDate today)
{
    static const QRegularExpression pattern(u"^([0-9]+)年([0-9]+)月([0-9]+)日$"_s);
    const QRegularExpressionMatch match = pattern.match(dateText);
    if (!match.hasMatch() || (mode != 0 && mode != 1)) {
        return std::nullopt;
    }
    int year = match.captured(1).toInt();
    const auto code = mode == 1 ? eraCode(era) : std::optional<int>(Seireki);
    if (mode == 1) {
        if (!code || *code == Seireki || year < 1) {
            return std::nullopt;
        }
        year = *westernYear(*code, year);
    }
    // A date its era never had (令和01年04月30日 was still 平成) is no date either.
    const auto birth = dateFromTexts(QString::number(year), match.captured(2), match.captured(3));
    if (!birth || !withinEra(*code, *birth) || *birth > today) {
        return std::nullopt;
    }
    return ageOn(*birth, today);
}

DoseCodes doseCodesOfType(int typeIndex)
{
    switch (typeIndex) {
    case 0:
        return {1, 1};
    case 1:
        return {2, 1};
    case 2:
        return {3, 1};
    case 3:
        return {4, 2};
    default:
        return {0, 0};
    }
}

std::optional<int> typeOfCodes(std::optional<int> sflg, std::optional<int> scnt)
{
    switch (sflg.value_or(-1)) {
    case 1:
        return 0;
    case 2:
        if (scnt == 1) {
            return 2;
        }
        if (scnt == 2) {
            return 3;
        }
        return std::nullopt;
    case 3:
        return 2;
    case 4:
        return 3;
    default:
        return -1;
    }
}

QString storedRemarks(const QString &typed)
{
    static const QRegularExpression lineBreak(u"\r\n|[\r\n\u2028\u2029]"_s);
    QStringList lines = typed.split(lineBreak);
    for (QString &line : lines) {
        line = oneLine(line);
    }
    return lines.join(u'\n');
}

QDate proposedSecondDose(QDate firstDose)
{
    return firstDose.addDays(21);
}

} // namespace qrb
