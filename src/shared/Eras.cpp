#include "Eras.h"

#include <array>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

struct Era {
    int code;
    QStringView name;
    int firstYear; // the western year of the era's year 1
    int firstDay;  // its first day as YYYYMMDD; it ends the day before the next era's first day
};

constexpr std::array<Era, 6> eras = {{
    {Seireki, u"西暦", 1, 0},
    {Meiji, u"明治", 1868, 18680125},
    {Taisho, u"大正", 1912, 19120730},
    {Showa, u"昭和", 1926, 19261225},
    {Heisei, u"平成", 1989, 19890108},
    {Reiwa, u"令和", 2019, 20190501},
}};

const Era *findEra(int code)
{
    for (const Era &era : eras) {
        if (era.code == code) {
            return &era;
        }
    }
    return nullptr;
}

} // namespace

QStringList eraPickerTexts()
{
    return {u"西暦"_s, u"令和"_s, u"平成"_s, u"昭和"_s, u"大正"_s, u"明治"_s};
}

std::optional<QString> eraName(int code)
{
    const Era *era = findEra(code);
    if (era == nullptr) {
        return std::nullopt;
    }
    return era->name.toString();
}

std::optional<int> eraCode(const QString &name)
{
    for (const Era &era : eras) {
        if (era.name == name) {
            return era.code;
        }
    }
    return std::nullopt;
}

std::optional<int> westernYear(int code, int eraYear)
{
    const Era *era = findEra(code);
    if (era == nullptr) {
        return std::nullopt;
    }
    return era->firstYear + eraYear - 1;
}

bool withinEra(int code, QDate date)
{
    if (code == Seireki) {
        return true;
    }
    const int day = date.year() * 10000 + date.month() * 100 + date.day();
    for (std::size_t i = 1; i < eras.size(); ++i) {
        if (eras[i].code == code) {
            return day >= eras[i].firstDay && (i + 1 == eras.size() || day < eras[i + 1].firstDay);
        }
    }
    return false;
}

int ageOn(QDate birth, QDate today)
{
    const auto number = [](QDate d) { return d.year() * 10000 + d.month() * 100 + d.day(); };
    return (number(today) - number(birth)) / 10000;
}

} // namespace qrb
