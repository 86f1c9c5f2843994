#include "Holidays.h"

#include <QMap>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// The n-th Monday of a month: the days the law moved to Mondays from 2000 on.
QDate nthMonday(int year, int month, int n)
{
    const QDate first(year, month, 1);
    const int toMonday = (Qt::Monday - first.dayOfWeek() + 7) % 7;
    return first.addDays(toMonday + 7 * (n - 1));
}

// The equinox days as the observatory announces them, from the approximation valid for 1980–2099.
int equinoxDay(int year, double base)
{
    const int y = year - 1980;
    return static_cast<int>(base + 0.242194 * y) - y / 4;
}

// The holidays the law (and the special acts) name for a year, before substitutes and days in between.
QMap<QDate, QString> namedHolidays(int year)
{
    QMap<QDate, QString> days;
    const auto add = [&](int month, int day, const QString &name) { days.insert(QDate(year, month, day), name); };
    const auto addDate = [&](QDate date, const QString &name) { days.insert(date, name); };

    add(1, 1, u"元日"_s);
    addDate(year >= 2000 ? nthMonday(year, 1, 2) : QDate(year, 1, 15), u"成人の日"_s);
    add(2, 11, u"建国記念の日"_s);
    if (year >= 2020) {
        add(2, 23, u"天皇誕生日"_s);
    }
    add(3, equinoxDay(year, 20.8431), u"春分の日"_s);
    if (year <= 1988) {
        add(4, 29, u"天皇誕生日"_s);
    } else {
        add(4, 29, year <= 2006 ? u"みどりの日"_s : u"昭和の日"_s);
    }
    add(5, 3, u"憲法記念日"_s);
    if (year >= 2007) {
        add(5, 4, u"みどりの日"_s);
    }
    add(5, 5, u"こどもの日"_s);
    if (year == 2020) {
        add(7, 23, u"海の日"_s);
    } else if (year == 2021) {
        add(7, 22, u"海の日"_s);
    } else if (year >= 2003) {
        addDate(nthMonday(year, 7, 3), u"海の日"_s);
    } else if (year >= 1996) {
        add(7, 20, u"海の日"_s);
    }
    if (year == 2020) {
        add(8, 10, u"山の日"_s);
    } else if (year == 2021) {
        add(8, 8, u"山の日"_s);
    } else if (year >= 2016) {
        add(8, 11, u"山の日"_s);
    }
    addDate(year >= 2003 ? nthMonday(year, 9, 3) : QDate(year, 9, 15), u"敬老の日"_s);
    add(9, equinoxDay(year, 23.2488), u"秋分の日"_s);
    if (year == 2020) {
        add(7, 24, u"スポーツの日"_s);
    } else if (year == 2021) {
        add(7, 23, u"スポーツの日"_s);
    } else if (year >= 2022) {
        addDate(nthMonday(year, 10, 2), u"スポーツの日"_s);
    } else {
        addDate(year >= 2000 ? nthMonday(year, 10, 2) : QDate(year, 10, 10), u"体育の日"_s);
    }
    add(11, 3, u"文化の日"_s);
    add(11, 23, u"勤労感謝の日"_s);
    if (year >= 1989 && year <= 2018) {
        add(12, 23, u"天皇誕生日"_s);
    }

    // Days off set once by their own acts.
    if (year == 1989) {
        add(2, 24, u"昭和天皇の大喪の礼"_s);
    } else if (year == 1990) {
        add(11, 12, u"即位礼正殿の儀"_s);
    } else if (year == 1993) {
        add(6, 9, u"皇太子徳仁親王の結婚の儀"_s);
    } else if (year == 2019) {
        add(5, 1, u"即位の日"_s);
        add(10, 22, u"即位礼正殿の儀"_s);
    }
    return days;
}

} // namespace

QList<Holiday> nationalHolidays(int year)
{
    const QMap<QDate, QString> named = namedHolidays(year);
    QMap<QDate, QString> all = named;
    // A holiday on a Sunday gives the next day that is no holiday itself (before 2007 the law said
    // "the Monday", which comes to the same days in every year since 1980).
    for (auto it = named.cbegin(); it != named.cend(); ++it) {
        if (it.key().dayOfWeek() == Qt::Sunday) {
            QDate next = it.key().addDays(1);
            while (named.contains(next)) {
                next = next.addDays(1);
            }
            all.insert(next, u"振替休日"_s);
        }
    }
    // A working day between two named holidays is a day off too (in force since 1986: 5/4 before
    // 2007, the September days when 敬老の日 and 秋分の日 lie two days apart, Golden Week 2019).
    if (year >= 1986) {
        for (auto it = named.cbegin(); it != named.cend(); ++it) {
            const QDate between = it.key().addDays(1);
            if (named.contains(between.addDays(1)) && !all.contains(between) && between.dayOfWeek() != Qt::Sunday) {
                all.insert(between, u"国民の休日"_s);
            }
        }
    }
    QList<Holiday> holidays;
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        holidays.append({it.key(), it.value()});
    }
    return holidays;
}

std::optional<QString> nationalHoliday(QDate date)
{
    if (!date.isValid()) {
        return std::nullopt;
    }
    const QList<Holiday> holidays = nationalHolidays(date.year());
    const auto it = std::find_if(holidays.cbegin(), holidays.cend(), [&](const Holiday &h) { return h.date == date; });
    if (it == holidays.cend()) {
        return std::nullopt;
    }
    return it->name;
}

} // namespace qrb
