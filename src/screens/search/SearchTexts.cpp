#include "SearchTexts.h"

#include "db/Reservation.h"
#include "shared/Dates.h"
#include "shared/Eras.h"
#include "shared/Text.h"

using namespace Qt::StringLiterals;

namespace qrb {

QString searchLine(const SearchHit &hit)
{
    // One line whatever another program stored: a taller line would take the clicks of the next ones.
    return oneLine(hit.knm) + u"＊"_s + oneLine(hit.ydate) + u"＊"_s + oneLine(hit.ytime);
}

QString hourRange(const QString &ytime)
{
    bool isNumber = false;
    const int hour = ytime.toInt(&isNumber);
    if (!isNumber) {
        return ytime;
    }
    return ytime + u"時 ～ "_s + twoDigits(hour + 1) + u"時"_s;
}

QString visitStateText(std::optional<int> cflg)
{
    if (cflg == 0) {
        return u"来院まだです。"_s;
    }
    if (cflg == 1) {
        return u"来院しました。"_s;
    }
    return QString();
}

std::optional<QString> vaccinationKindText(std::optional<int> sflg, std::optional<int> scnt)
{
    if (!sflg) {
        return std::nullopt;
    }
    switch (*sflg) {
    case 0:
        return QString();
    case 1:
        return u"(季節性)"_s;
    case 2:
        return u"(新型 "_s + (scnt ? QString::number(*scnt) : QString()) + u"回目)"_s;
    case 3:
        return u"(新型 1回目のみ)"_s;
    case 4:
        return u"(新型 2回目のみ)"_s;
    default:
        return std::nullopt;
    }
}

QString birthCalendarText(std::optional<int> bflg)
{
    // The same table the entry form writes from, so that a birth date in 令和 reads back as 令和.
    if (!bflg) {
        return QString();
    }
    return eraName(*bflg).value_or(QString());
}

std::optional<QString> visitHistoryText(std::optional<int> rflg)
{
    if (rflg == 0) {
        return u"未入力"_s;
    }
    if (rflg == 1) {
        return u"来院歴あり"_s;
    }
    if (rflg == 2) {
        return u"来院歴なし"_s;
    }
    return std::nullopt;
}

std::optional<QString> membershipText(std::optional<int> kflg)
{
    if (kflg == 0) {
        return u"未入力"_s;
    }
    if (kflg == 1) {
        return u"組合員です"_s;
    }
    if (kflg == 2) {
        return u"組合員ではありません"_s;
    }
    return std::nullopt;
}

} // namespace qrb
