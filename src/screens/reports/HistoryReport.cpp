#include "HistoryReport.h"

#include "shared/Dates.h"
#include "shared/Eras.h"
#include "shared/Text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// The fields of a reservation as the desk names them, in the order of the entry form.
const std::pair<const char16_t *, const char16_t *> Fields[] = {
    {u"KNO", u"患者番号"}, {u"KNM", u"氏名"},      {u"KKNM", u"カナ氏名"},   {u"YDATE", u"予約日"},
    {u"YTIME", u"時間"},   {u"BFLG", u"暦"},       {u"BIRTHDAY", u"生年月日"}, {u"TEL1", u"電話番号１"},
    {u"TEL2", u"電話番号２"}, {u"RFLG", u"来院歴"}, {u"KFLG", u"組合員"},     {u"KMNO", u"組合員番号"},
    {u"BIKO", u"備考"},    {u"SFLG", u"種別"},     {u"SCNT", u"回数"},       {u"CFLG", u"来院"},
};

QJsonObject object(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

QString value(const QJsonValue &v)
{
    return v.isDouble() ? QString::number(v.toInteger()) : v.toString();
}

// A field's value as the desk words it: the codes as the entry form and the search screen name them
// (西暦, 新型, 1回目), any other value as stored.
QString wordOf(const QString &field, const QJsonValue &v)
{
    const QString raw = value(v);
    if (!v.isDouble()) {
        return raw;
    }
    const auto code = static_cast<int>(v.toInteger());
    const auto pick = [&](const QStringList &words) { return code >= 0 && code < words.size() ? words[code] : raw; };
    if (field == u"BFLG"_s) {
        return eraName(code).value_or(raw);
    }
    if (field == u"SFLG"_s) {
        return pick({u"未入力"_s, u"季節性"_s, u"新型"_s, u"新型1回目のみ"_s, u"新型2回目のみ"_s});
    }
    if (field == u"SCNT"_s) {
        return code > 0 ? u"%1回目"_s.arg(code) : raw;
    }
    if (field == u"RFLG"_s) {
        return pick({u"未入力"_s, u"来院歴あり"_s, u"来院歴なし"_s});
    }
    if (field == u"KFLG"_s) {
        return pick({u"未入力"_s, u"組合員です"_s, u"組合員ではありません"_s});
    }
    if (field == u"CFLG"_s) {
        return pick({u"未来院"_s, u"来院"_s});
    }
    return raw;
}

QString reservationDetails(const HistoryEntry &e)
{
    const QJsonObject before = object(e.before);
    const QJsonObject after = object(e.after);
    const bool both = !e.before.isEmpty() && !e.after.isEmpty();
    QStringList parts;
    for (const auto &[key, label] : Fields) {
        const QString name = QString::fromUtf16(key);
        const QString was = wordOf(name, before.value(name));
        const QString now = wordOf(name, after.value(name));
        if (both && was != now) {
            parts << QString::fromUtf16(label) + u": "_s + was + u" → "_s + now;
        } else if (!both && !QString(was + now).isEmpty()) {
            parts << QString::fromUtf16(label) + u'=' + was + now;
        }
    }
    return parts.join(u"  "_s);
}

QString capacityDetails(const HistoryEntry &e)
{
    const QJsonObject before = object(e.before);
    const QJsonObject after = object(e.after);
    if (after.isEmpty()) {
        return u"変更なし"_s;
    }
    QStringList parts;
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        const QString weekday = weekdayName(it.key().section(u'-', 0, 0).toInt());
        parts << weekday + it.key().section(u'-', 1) + u"時: "_s + value(before.value(it.key())) + u" → "_s
                     + value(it.value());
    }
    return parts.join(u"  "_s);
}

QString csvField(QString text)
{
    // A spreadsheet takes a field starting with = + - @ (or a tab or carriage return before one) for a
    // formula: a name typed on the web page could become a working link or a calculation. A quote in
    // front keeps it text, as the spreadsheets themselves do.
    if (!text.isEmpty() && u"=+-@\t\r"_s.contains(text.front())) {
        text.prepend(u'\'');
    }
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r')) {
        return text;
    }
    return u'"' + text.replace(u"\""_s, u"\"\""_s) + u'"';
}

QString optionalNumber(std::optional<int> n)
{
    return n ? QString::number(*n) : QString();
}

} // namespace

QString historyDetails(const HistoryEntry &e)
{
    switch (e.kind) {
    case HistoryKind::CapacitiesSaved:
        return capacityDetails(e);
    case HistoryKind::AllDeleted:
        return u"%1件"_s.arg(e.count.value_or(0));
    case HistoryKind::PeriodDeleted:
        return u"%1〜%2  %3件"_s.arg(e.first, e.last).arg(e.count.value_or(0));
    case HistoryKind::Restored:
        return value(object(e.after).value(u"SOURCE"_s)) + u"  %1件"_s.arg(e.count.value_or(0));
    case HistoryKind::Compacted:
        return {};
    default:
        return reservationDetails(e);
    }
}

QString historyDetailsLine(const QString &details)
{
    return oneLine(QString(details).replace(u"\r\n"_s, u" / "_s).replace(u'\n', u" / "_s).replace(u'\r', u" / "_s));
}

QString historyReport(const QString &condition, const QString &printedAt, const QList<HistoryEntry> &entries)
{
    const QString dashes(72, u'-');
    QString text = u"操作履歴　　"_s + condition + u"　　出力 "_s + printedAt + u"\r\n"_s + dashes + u"\r\n"_s;
    for (const HistoryEntry &e : entries) {
        // Every stored text on one line: a row another program wrote may hold any control character.
        text += oneLine(e.when) + u"  "_s + padRight(historyKindName(e.kind), 10) + u"  "_s
                + (e.yno ? u"予約番号 %1  "_s.arg(*e.yno) : QString()) + u"端末 "_s + oneLine(e.where) + u"\r\n"_s;
        if (e.yno) {
            text += u"    "_s + oneLine(e.ydate + u' ' + e.ytime) + u"時  "_s + oneLine(e.knm)
                    + (e.kno.isEmpty() ? QString() : u"  患者番号 "_s + oneLine(e.kno)) + u"\r\n"_s;
        }
        const QString details = historyDetails(e);
        if (!details.isEmpty()) {
            text += u"    "_s + historyDetailsLine(details) + u"\r\n"_s;
        }
    }
    return text + dashes + u"\r\n"_s + u"全 %1 件\r\n"_s.arg(entries.size());
}

QString historyCsv(const QList<HistoryEntry> &entries)
{
    QString csv = u"番号,日時,端末,操作,予約番号,予約日,時間,患者番号,氏名,件数,期間開始,期間終了,内容\r\n"_s;
    for (const HistoryEntry &e : entries) {
        const QStringList fields = {QString::number(e.hno), e.when,   e.where, historyKindName(e.kind),
                                    optionalNumber(e.yno),  e.ydate,  e.ytime, e.kno,
                                    e.knm,                  optionalNumber(e.count), e.first, e.last,
                                    historyDetails(e)};
        QStringList quoted;
        for (const QString &field : fields) {
            quoted << csvField(field);
        }
        csv += quoted.join(u',') + u"\r\n"_s;
    }
    return csv;
}

WrittenReport writeHistoryReport(const QString &folder, const QString &text)
{
    return writeReportFile(folder, u"操作履歴.txt"_s, text);
}

WrittenReport writeHistoryCsv(const QString &folder, const QList<HistoryEntry> &entries)
{
    return writeReportBytes(folder, u"操作履歴.csv"_s, QByteArray("\xEF\xBB\xBF") + historyCsv(entries).toUtf8());
}

} // namespace qrb
