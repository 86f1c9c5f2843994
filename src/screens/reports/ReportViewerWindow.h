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

    // Opens over the centre of the window the user is working in (the main window), sized to fit
    // its screen, and in front.
    void showReport(const QString &path, const QString &period) override;

    // Reads the file into the window; false (after telling the user) when it cannot be read.
    bool load(const QString &path);
    QString path() const { return m_path; }
    QString text() const;
    // The name the PDF dialog suggests: the report's name and the period it covers ("日報_2009-10-09.pdf"),
    // so that the next day's PDF does not overwrite this one.
    QString suggestedPdfName() const;

    // Prints the report on a printer already set up by the print dialog, or into a PDF.
    void printTo(QPagedPaintDevice &device) const;
    // Writes the report as a PDF file; false (after telling the user) when it could not be written.
    bool saveAsPdf(const QString &pdfPath);

private:
    void askAndPrint();
    void askAndSavePdf();
    void openInEditor();
    void placeOver(const QWidget *anchor);

    Dialogs &m_dialogs;
    QPlainTextEdit *m_text = nullptr; // "ReportText"
    QString m_path;
    QString m_period;
};

} // namespace qrb
