#pragma once

#include "ReportFile.h"
#include "db/History.h"

#include <QList>
#include <QString>

namespace qrb {

// The history of changes as the desk reads it: pure texts from rows already read.

// What a row changed, in words: the fields that differ for a change of a reservation, every filled
// field for one registered or cancelled, the cells of the places, the count and period of a deletion.
// Remarks keep their line breaks.
QString historyDetails(const HistoryEntry &entry);
// The same on one line, as the history list and the report show it: line breaks of the remarks as
// " / ", any other control character a blank.
QString historyDetailsLine(const QString &details);

// "操作履歴.txt": a heading naming what was asked for (`condition`) and when it was printed, then
// every row in the order given, lines ended by CR LF.
QString historyReport(const QString &condition, const QString &printedAt, const QList<HistoryEntry> &entries);

// "操作履歴.csv" for a spreadsheet: a header and one record per row, fields quoted where they hold a
// comma, a double quote or a line break, records ended by CR LF. A field a spreadsheet would take for
// a formula (starting with = + - @, a tab or a carriage return) gets a ' in front.
QString historyCsv(const QList<HistoryEntry> &entries);

// Both files, written into the report folder. The CSV is UTF-8 with a byte order mark, which
// spreadsheets recognise, so that no name is lost to Shift-JIS. Throw ReportFileError.
WrittenReport writeHistoryReport(const QString &folder, const QString &text);
WrittenReport writeHistoryCsv(const QString &folder, const QList<HistoryEntry> &entries);

} // namespace qrb
