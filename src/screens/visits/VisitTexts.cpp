#include "VisitTexts.h"

#include "db/Reservation.h"
#include "db/Visits.h"
#include "shared/Text.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace qrb {

QString visitLine(const VisitEntry &entry)
{
    return oneLine(entry.ytime) + u"時 --- "_s + oneLine(entry.knm);
}

QString RFLG_text(int code)
{
    switch (code) {
    case 0:
        return u"未入力"_s;
    case 1:
        return u"来院歴あり"_s;
    case 2:
        return u"来院歴なし"_s;
    default:
        return QString();
    }
}

QString KFLG_text(int code)
{
    switch (code) {
    case 0:
        return u"未入力"_s;
    case 1:
        return u"組合員です"_s;
    case 2:
        return u"非組合員"_s;
    default:
        return QString();
    }
}

QString SFLG_text(int kind, int dose)
{
    switch (kind) {
    case 0:
        return u"未入力"_s;
    case 1:
        return u"季節性"_s;
    case 2:
        return u"新型 "_s + QString::number(dose) + u"回目"_s;
    case 3:
        return u"新型 1回目のみ"_s;
    case 4:
        return u"新型 2回目のみ"_s;
    default:
        return QString();
    }
}

QString detailText(const Reservation &r)
{
    // Null and empty read the same: an empty text, or code 0 ("未入力").
    const auto text = [](const QString &value) { return nvl_str(value, QString()); };
    const auto code = [](const std::optional<int> &value) { return value.value_or(0); };
    return QStringList{
        u"患者番号:　"_s + text(r.kno),
        u"電話番号:　"_s + text(r.tel1) + u"  "_s + text(r.tel2),
        u"来院歴　:　"_s + RFLG_text(code(r.rflg)),
        u"組合員　:　"_s + KFLG_text(code(r.kflg)) + u"  "_s + text(r.kmno),
        u"種  別　:　"_s + SFLG_text(code(r.sflg), code(r.scnt)),
        u"備　考　:　"_s + text(r.biko),
    }
        .join(u"\r\n"_s);
}

} // namespace qrb
