#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace qrb {

// Codes of BFLG, the calendar a birth date is written in.
enum EraCode : int {
    Seireki = 0, // 西暦, the western year
    Meiji = 1,
    Taisho = 2,
    Showa = 3,
    Heisei = 4,
    Reiwa = 5,
};

// The calendars in the order the birth-date picker offers them.
QStringList eraPickerTexts();
// "西暦", "明治", … for a code; nothing for a code outside the table.
std::optional<QString> eraName(int code);
// The code of an era text; nothing for any other text (an empty picker, a typo).
std::optional<int> eraCode(const QString &name);
// The western year of year n of an era (令和1年 = 2019); for 西暦 the year itself.
std::optional<int> westernYear(int code, int eraYear);

// Whether a date lies within an era (平成 runs from 1989/01/08 to 2019/04/30); every date is 西暦.
bool withinEra(int code, QDate date);

// Completed years between a birth date and today, counted as the clinic counts them:
// (today as YYYYMMDD − birth as YYYYMMDD) / 10000, the fraction dropped.
int ageOn(QDate birth, QDate today);

} // namespace qrb
