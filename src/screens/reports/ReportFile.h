#pragma once

#include <QString>

#include <stdexcept>

namespace qrb {

// A report file that could not be written. message() is the Japanese text shown to the user.
class ReportFileError : public std::runtime_error
{
public:
    explicit ReportFileError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

struct WrittenReport {
    QString path;
    int replaced = 0; // characters CP932 cannot hold, written as "〓"
};

// The folder the reports go to: TXTPATH, taken relative to the start-up folder when it is relative;
// an empty TXTPATH means the start-up folder itself.
QString reportFolder(const QString &startDir, const QString &txtPath);

// Writes a report text as CP932 into folder/fileName, replacing an earlier file of that name. The
// folder is created when missing (one level: a folder on an unreachable share is not made locally).
// The file reaches the disk whole, checked there, before it takes its name (writeWholeFile), so a
// failure such as a full disk leaves the earlier file as it was and never half a report. Throws
// ReportFileError.
WrittenReport writeReportFile(const QString &folder, const QString &fileName, const QString &text);
// The same for bytes already encoded.
WrittenReport writeReportBytes(const QString &folder, const QString &fileName, const QByteArray &bytes);

} // namespace qrb
