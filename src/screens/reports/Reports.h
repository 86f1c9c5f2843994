#pragma once

#include "ReportFile.h"

#include <QDate>
#include <QString>

#include <optional>

namespace qrb {

class Database;

// The three reports of the reports screen; qrb-report writes the same ones through the same code.
enum class ReportKind {
    Daily,      // 日報
    NotVisited, // 未来院予約者一覧
    Monthly,    // 月報
};

// "日報.txt", "未来院リスト.txt", "月報.txt".
QString reportFileName(ReportKind kind);
// "日報", "未来院予約者一覧", "月報": what the user asked for, in messages.
QString reportName(ReportKind kind);

// The day or month a report covers, "2009-10-09" or "2009-10" for the monthly report: it tells copies
// of the same file name apart.
QString reportPeriod(ReportKind kind, QDate day);

// The day the selector texts name: a four-digit year and a month and day of one or two digits that
// together form a real date. Anything else names no day: a report of "2026/4/05" would find nothing
// and print zeros as if the clinic had been empty.
std::optional<QDate> reportDay(const QString &year, const QString &month, const QString &day);
// The first day of the month the year and month texts name, under the same rule.
std::optional<QDate> reportMonth(const QString &year, const QString &month);

// The report's text for a day (the monthly report uses only its year and month), read from the database.
QString reportText(Database &db, ReportKind kind, QDate day);

// Reads the database and writes the report into `folder`. Throws DbError or ReportFileError; on
// either nothing has been written.
WrittenReport writeReport(Database &db, const QString &folder, ReportKind kind, QDate day);

} // namespace qrb
