#pragma once

#include <QDate>
#include <QList>
#include <QString>

#include <optional>

namespace qrb {

// One day off under Japan's national holidays law, with the name the calendar prints for it.
struct Holiday {
    QDate date;
    QString name; // "元日", "成人の日", …, "振替休日", "国民の休日"
};

// Every national holiday of a year, in date order: the holidays the law names (as the law stood in
// that year), the days set by special acts (the 1989 funeral, the enthronements of 1990 and 2019, the
// 1993 wedding, the holidays moved for the 2020–2021 Olympics), a substitute holiday after a holiday
// on a Sunday, and a day lying between two holidays. Exact for 1980–2099: 春分の日 and 秋分の日 come
// from the equinox formula, which the observatory's published days follow over those years.
QList<Holiday> nationalHolidays(int year);

// The name of the holiday on that day, or nothing on a working day.
std::optional<QString> nationalHoliday(QDate date);

} // namespace qrb
