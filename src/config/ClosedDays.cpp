#include "ClosedDays.h"

#include "IniFile.h"
#include "shared/Holidays.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

const QString OwnClosure = u"休診日"_s;

std::optional<QDate> dateOf(const QString &text)
{
    static const QRegularExpression pattern(u"^(\\d{4})/(\\d{1,2})/(\\d{1,2})$"_s);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (!date.isValid()) {
        return std::nullopt;
    }
    return date;
}

} // namespace

ClosedDays ClosedDays::read(const QString &startDir)
{
    ClosedDays days;
    bool holidaysSeen = false;
    for (const IniLine &line : ini_section(startDir, u"CLOSED"_s)) {
        if (line.text.startsWith(u';')) {
            continue;
        }
        // A note may follow the value after ";": no date holds one.
        const QString value = line.value.section(u';', 0, 0).trimmed();
        const auto leaveOut = [&](const QString &why) {
            days.m_problems << u"%1 行目「%2」: %3"_s.arg(line.number).arg(line.text, why);
        };
        if (!line.hasValue) {
            leaveOut(u"「名前=日付」の形ではありません"_s);
            continue;
        }
        if (line.key.compare(u"HOLIDAYS"_s, Qt::CaseInsensitive) == 0) {
            // Like any key read from setting.ini, the first HOLIDAYS counts.
            if (holidaysSeen) {
                leaveOut(u"HOLIDAYS は前の行で決まっています"_s);
            } else if (value == u"0"_s || value == u"1"_s) {
                days.m_holidaysClose = value == u"1"_s;
            } else {
                leaveOut(u"HOLIDAYS は 1(祝日は休診)か 0(祝日も診療)です"_s);
            }
            holidaysSeen = true;
            continue;
        }
        const qsizetype dash = value.indexOf(u'-');
        const auto first = dateOf(dash < 0 ? value : value.left(dash));
        const auto last = dash < 0 ? first : dateOf(value.mid(dash + 1));
        if (!first || !last) {
            leaveOut(u"日付(2026/12/29)か期間(2026/12/29-2027/01/03)ではありません"_s);
        } else if (*last < *first) {
            leaveOut(u"期間の終わりが始まりより前です"_s);
        } else {
            days.m_periods.append({*first, *last, line.key.trimmed()});
        }
    }
    return days;
}

std::optional<QString> ClosedDays::closedReason(QDate date) const
{
    if (m_holidaysClose) {
        if (auto holiday = nationalHoliday(date)) {
            return holiday;
        }
    }
    if (closureOn(date) != nullptr) {
        return OwnClosure;
    }
    return std::nullopt;
}

std::optional<QString> ClosedDays::closedNote(QDate date) const
{
    const auto reason = closedReason(date);
    if (!reason) {
        return std::nullopt;
    }
    const Period *closure = *reason == OwnClosure ? closureOn(date) : nullptr;
    const QString name = closure != nullptr ? closure->name : *reason;
    return name.isEmpty() || name == OwnClosure ? OwnClosure : OwnClosure + u"（"_s + name + u"）"_s;
}

const ClosedDays::Period *ClosedDays::closureOn(QDate date) const
{
    for (const Period &period : m_periods) {
        if (date >= period.first && date <= period.last) {
            return &period;
        }
    }
    return nullptr;
}

QString ClosedDays::problemsMessage() const
{
    if (m_problems.isEmpty()) {
        return QString();
    }
    return u"setting.ini の [CLOSED] に読めない行があります。次の行は使わずに始めます。\r\n\r\n"_s +
           m_problems.join(u"\r\n"_s) +
           u"\r\n\r\n直すには setting.ini を書き直し、プログラムを起動し直してください。"_s;
}

} // namespace qrb
