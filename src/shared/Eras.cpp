#include "Eras.h"

#include <array>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

struct Era {
    int code;
    QStringView name;
    int firstYear; // the western year of the era's year 1
};

constexpr std::array<Era, 6> eras = {{
    {Seireki, u"西暦", 1},
    {Meiji, u"明治", 1868},
    {Taisho, u"大正", 1912},
    {Showa, u"昭和", 1926},
    {Heisei, u"平成", 1989},
    {Reiwa, u"令和", 2019},
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

int ageOn(QDate birth, QDate today)
{
    const auto number = [](QDate d) { return d.year() * 10000 + d.month() * 100 + d.day(); };
    return (number(today) - number(birth)) / 10000;
}

} // namespace qrb
