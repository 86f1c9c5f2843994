#include "ReportWriters.h"

#include "shared/Dates.h"
#include "shared/Eras.h"
#include "shared/Text.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// A report is written as a stream of pieces: an open piece adds no line end, a closed one ends its
// line. Where a code has no text, its piece is left out with its line end, so the next piece
// continues the same line; the lists printed at the desk have always looked like that.
class Pieces
{
public:
    void open(const QString &piece) { m_text += piece; }
    void closed(const QString &piece = QString())
    {
        m_text += piece;
        m_text += u"\r\n"_s;
    }
    QString text() const { return m_text; }

private:
    QString m_text;
};

const QString Dashes = QString(72, u'-');

// A stored text in its column: on one line whatever a paste or another program put into it.
QString pad(const QString &value, int width)
{
    return padRight(oneLine(value), width);
}

QString dateTitle(QDate day)
{
    return QString::number(day.year()) + u"年"_s + twoDigits(day.month()) + u"月"_s + twoDigits(day.day()) + u"日"_s;
}

QString countsPiece(const QString &mark, const ReportCounts &c)
{
    return mark + u"予約者数："_s + QString::number(c.reserved) + u"人"_s + u"    未来院者数："_s +
           QString::number(c.notVisited) + u"人"_s + u"    摂取可能人数："_s + QString::number(c.places) + u"人　　"_s;
}

QString ratesPiece(const QString &mark, const ReportCounts &c)
{
    if (c.places == 0) {
        return mark + u"予約率：***%"_s + u"    来院率：***%"_s;
    }
    if (c.reserved == 0) {
        return mark + u"予約率："_s + pct(0, c.places) + u"    来院率：***%"_s;
    }
    return mark + u"予約率："_s + pct(c.reserved, c.places) + u"    来院率："_s +
           pct(c.reserved - c.notVisited, c.reserved);
}

void writeHeader(Pieces &p, const QString &title, const ReportCounts &counts)
{
    p.closed(title);
    p.open(countsPiece(u"■"_s, counts));
    p.closed(ratesPiece(u"◆"_s, counts));
}

std::optional<QString> eraText(std::optional<int> bflg)
{
    if (!bflg) {
        return std::nullopt;
    }
    const auto name = eraName(*bflg);
    return name ? std::optional<QString>(u' ' + *name) : std::nullopt;
}

std::optional<QString> visitText(std::optional<int> cflg)
{
    switch (cflg.value_or(-1)) {
    case 0:
        return u"　未来院　"_s;
    case 1:
        return u"　来院　　"_s;
    default:
        return std::nullopt;
    }
}

std::optional<QString> kindText(std::optional<int> sflg, std::optional<int> scnt)
{
    switch (sflg.value_or(-1)) {
    case 0:
        return u"      　　　　　"_s;
    case 1:
        return u"季節性　　　　　"_s;
    case 2:
        return u"新型"_s + (scnt ? QString::number(*scnt) : QString()) + u"回目    　"_s;
    case 3:
        return u"新型1回目のみ　"_s;
    case 4:
        return u"新型2回目のみ　"_s;
    default:
        return std::nullopt;
    }
}

std::optional<QString> historyText(std::optional<int> rflg, const QString &kno)
{
    switch (rflg.value_or(-1)) {
    case 0:
        return u"      　　　"_s;
    case 1:
        return u"来院歴あり　"_s + pad(kno, 10);
    case 2:
        return u"来院歴なし　"_s;
    default:
        return std::nullopt;
    }
}

std::optional<QString> memberText(std::optional<int> kflg, const QString &kmno)
{
    switch (kflg.value_or(-1)) {
    case 0:
        return u"      　　"_s;
    case 1:
        return u"組合員　　"_s + pad(kmno, 10);
    case 2:
        return u"非組合員　"_s;
    default:
        return std::nullopt;
    }
}

// Line A (name, telephones, birth date) and line B (visit, kind, history, membership) of one
// reservation. The not-yet-visited list has no visit column and sets its kind one space further in.
void writeEntry(Pieces &p, const Reservation &r, bool notVisitedList)
{
    p.open(u"○"_s);
    p.open(pad(r.knm, 14));
    p.open(pad(r.tel1, 14));
    p.open(pad(r.tel2, 14));
    if (const auto era = eraText(r.bflg)) {
        p.closed(*era + pad(r.birthday, 15));
    }
    if (!notVisitedList) {
        if (const auto visit = visitText(r.cflg)) {
            p.open(*visit);
        }
    }
    if (const auto kind = kindText(r.sflg, r.scnt)) {
        p.open(notVisitedList ? u"　"_s + *kind : *kind);
    }
    if (const auto history = historyText(r.rflg, r.kno)) {
        p.open(*history);
    }
    if (const auto member = memberText(r.kflg, r.kmno)) {
        p.closed(*member);
    }
}

QString dayReport(const QString &title, QDate day, const ReportCounts &counts, const QList<Reservation> &reservations,
                  bool notVisitedList)
{
    Pieces p;
    writeHeader(p, title + u"    "_s + dateTitle(day), counts);
    for (int hour = FirstSlotHour; hour <= LastSlotHour; ++hour) {
        const QString slot = twoDigits(hour);
        p.closed();
        p.closed(Dashes);
        p.closed(u"***** "_s + slot + u"時 ～ "_s + twoDigits(hour + 1) + u"時 *****"_s);
        bool first = true;
        for (const Reservation &r : reservations) {
            if (r.ytime != slot) {
                continue;
            }
            if (!first) {
                p.closed(); // one empty line between the entries of an hour
            }
            first = false;
            writeEntry(p, r, notVisitedList);
        }
    }
    return p.text();
}

} // namespace

QString dailyReport(QDate day, const ReportCounts &counts, const QList<Reservation> &reservations)
{
    return dayReport(u"インフルエンザ予防接種　日報"_s, day, counts, reservations, false);
}

QString notVisitedReport(QDate day, const ReportCounts &counts, const QList<Reservation> &reservations)
{
    return dayReport(u"インフルエンザ予防接種　未来院リスト"_s, day, counts, reservations, true);
}

QString monthlyReport(QDate month, const MonthCounts &counts)
{
    Pieces p;
    writeHeader(p,
                u"インフルエンザ予防接種　月報    "_s + QString::number(month.year()) + u"年"_s +
                    twoDigits(month.month()) + u"月分"_s,
                counts.month);
    const QDate first(month.year(), month.month(), 1);
    for (qsizetype i = 0; i < counts.days.size(); ++i) {
        const QDate day = first.addDays(i);
        p.closed();
        p.closed(QString::number(day.day()) + u"日 "_s + weekdayLabel(weekdayNumber(day)) + Dashes);
        p.open(countsPiece(u"　□"_s, counts.days.at(i)));
        p.closed(ratesPiece(u"◇"_s, counts.days.at(i)));
    }
    return p.text();
}

} // namespace qrb
