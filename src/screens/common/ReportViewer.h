#pragma once

#include <QString>

namespace qrb {

// Shows a report file that has just been written (the CP932 text files of the reports screen).
class ReportViewer
{
public:
    virtual ~ReportViewer() = default;
    virtual void showReport(const QString &path) = 0;
};

} // namespace qrb

namespace qrb {

// Hands a report to the desktop's own text editor; false when the desktop has none.
bool openWithSystemEditor(const QString &path);

} // namespace qrb
