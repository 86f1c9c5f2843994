#include "Reports.h"

#include "ReportWriters.h"
#include "db/ReportQueries.h"
#include "shared/Dates.h"

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

bool digits(const QString &text, qsizetype minimum, qsizetype maximum)
{
    if (text.size() < minimum || text.size() > maximum) {
        return false;
    }
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

} // namespace

QString reportFileName(ReportKind kind)
{
    switch (kind) {
    case ReportKind::Daily:
        return u"日報.txt"_s;
    case ReportKind::NotVisited:
        return u"未来院リスト.txt"_s;
    case ReportKind::Monthly:
        return u"月報.txt"_s;
    }
    return {};
}

QString reportPeriod(ReportKind kind, QDate day)
{
    return day.toString(kind == ReportKind::Monthly ? u"yyyy-MM"_s : u"yyyy-MM-dd"_s);
}

QString reportName(ReportKind kind)
{
    switch (kind) {
    case ReportKind::Daily:
        return u"日報"_s;
    case ReportKind::NotVisited:
        return u"未来院予約者一覧"_s;
    case ReportKind::Monthly:
        return u"月報"_s;
    }
    return {};
}

std::optional<QDate> reportDay(const QString &year, const QString &month, const QString &day)
{
    if (!digits(year, 4, 4) || !digits(month, 1, 2) || !digits(day, 1, 2)) {
        return std::nullopt;
    }
    return dateFromTexts(year, month, day);
}

std::optional<QDate> reportMonth(const QString &year, const QString &month)
{
    return reportDay(year, month, u"01"_s);
}

QString reportText(Database &db, ReportKind kind, QDate day)
{
    switch (kind) {
    case ReportKind::Daily:
        return dailyReport(day, dayCounts(db, day), reservationsOfDay(db, day, false));
    case ReportKind::NotVisited:
        return notVisitedReport(day, dayCounts(db, day), reservationsOfDay(db, day, true));
    case ReportKind::Monthly:
        return monthlyReport(day, monthCounts(db, day.year(), day.month()));
    }
    return {};
}

WrittenReport writeReport(Database &db, const QString &folder, ReportKind kind, QDate day)
{
    return writeReportFile(folder, reportFileName(kind), reportText(db, kind, day));
}

} // namespace qrb
