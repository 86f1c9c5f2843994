#include "Dates.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

std::optional<int> wholeNumber(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

} // namespace

QString dateKey(const QString &year, const QString &month, const QString &day)
{
    return year + u'/' + month + u'/' + day;
}

QString dateKey(QDate date)
{
    return date.toString(u"yyyy/MM/dd"_s);
}

std::optional<QDate> dateFromTexts(const QString &year, const QString &month, const QString &day)
{
    const auto y = wholeNumber(year);
    const auto m = wholeNumber(month);
    const auto d = wholeNumber(day);
    if (!y || !m || !d) {
        return std::nullopt;
    }
    const QDate date(*y, *m, *d);
    if (!date.isValid() || *y < 1) {
        return std::nullopt;
    }
    return date;
}

std::optional<QDate> dateFromKey(const QString &key)
{
    if (key.size() != 10 || key.at(4) != u'/' || key.at(7) != u'/') {
        return std::nullopt;
    }
    for (const int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (key.at(i) < u'0' || key.at(i) > u'9') {
            return std::nullopt;
        }
    }
    return dateFromTexts(key.mid(0, 4), key.mid(5, 2), key.mid(8, 2));
}

std::optional<int> daysInMonth(const QString &year, const QString &month)
{
    const auto first = dateFromTexts(year, month, u"1"_s);
    if (!first) {
        return std::nullopt;
    }
    return first->daysInMonth();
}

int weekdayNumber(QDate date)
{
    return date.dayOfWeek(); // Qt counts Monday 1 … Sunday 7, as SWEEKDAY does
}

QString weekdayLabel(int weekday)
{
    const QString name = weekdayName(weekday);
    return name.isEmpty() ? QString() : u'(' + name + u')';
}

QString weekdayName(int weekday)
{
    static const QStringList names = {u"月"_s, u"火"_s, u"水"_s, u"木"_s, u"金"_s, u"土"_s, u"日"_s};
    if (weekday < 1 || weekday > 7) {
        return {};
    }
    return names.at(weekday - 1);
}

QString twoDigits(int value)
{
    return u"%1"_s.arg(value, 2, 10, QChar(u'0'));
}

QString clampedSlot(QTime now)
{
    return twoDigits(std::clamp(now.hour(), FirstSlotHour, LastSlotHour));
}

QString slotKey(int index)
{
    return twoDigits(FirstSlotHour + index);
}

} // namespace qrb
