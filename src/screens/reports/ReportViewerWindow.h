#pragma once

#include "screens/common/ReportViewer.h"

#include <QMainWindow>

class QPlainTextEdit;
class QPagedPaintDevice;

namespace qrb {

class Dialogs;

// The program's own window for a written report (objectName "ReportViewer"): the CP932 file decoded
// and shown read-only in a monospaced Japanese font, so the columns line up as on paper; printing,
// saving as PDF, and handing the file to the desktop's text editor for whoever wants to edit it.
// One window serves every report: showing another report replaces the text.
class ReportViewerWindow final : public QMainWindow, public ReportViewer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReportViewerWindow)

public:
    explicit ReportViewerWindow(Dialogs &dialogs, QWidget *parent = nullptr);
    ~ReportViewerWindow() override;

    void showReport(const QString &path) override;

    // Reads the file into the window; false (after telling the user) when it cannot be read.
    bool load(const QString &path);
    QString path() const { return m_path; }
    QString text() const;

    // Prints the report on a printer already set up by the print dialog, or into a PDF.
    void printTo(QPagedPaintDevice &device) const;
    // Writes the report as a PDF file; false (after telling the user) when it could not be written.
    bool saveAsPdf(const QString &pdfPath);

private:
    void askAndPrint();
    void askAndSavePdf();
    void openInEditor();

    Dialogs &m_dialogs;
    QPlainTextEdit *m_text = nullptr; // "ReportText"
    QString m_path;
};

} // namespace qrb
