#pragma once

#include <QString>

namespace qrb {

// Shows a report file that has just been written (the CP932 text files of the reports screen).
// `period` names the day or month the report covers ("2009-10-09", "2009-10"): the file's own name is
// the same every day, so a copy kept elsewhere (a PDF) is told apart by it.
class ReportViewer
{
public:
    virtual ~ReportViewer() = default;
    virtual void showReport(const QString &path, const QString &period) = 0;
};

} // namespace qrb

namespace qrb {

// Hands a report to the desktop's own text editor; false when the desktop has none.
bool openWithSystemEditor(const QString &path);

} // namespace qrb
