#include "ReportViewerWindow.h"

#include "screens/common/Dialogs.h"
#include "shared/Cp932.h"
#include "shared/WholeFile.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// A monospaced face that holds Japanese, where full-width characters take exactly two columns:
// the report columns are padded by character count and line up only in such a face.
QFont reportFont(qreal pointSize)
{
    QFont font(QStringList{u"Noto Sans Mono CJK JP"_s, u"Noto Sans Mono CJK"_s, u"monospace"_s});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(pointSize);
    return font;
}

// The window the user works in. Right after a message box closed, the window system may not have
// given the focus back to it yet: the active window is then none, or the box on its way out.
const QWidget *workingWindow(const QWidget *viewer)
{
    const QWidget *active = QApplication::activeWindow();
    if (active != nullptr && active != viewer && qobject_cast<const QDialog *>(active) == nullptr) {
        return active;
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto main = std::find_if(windows.cbegin(), windows.cend(), [viewer](const QWidget *w) {
        return w != viewer && w->isVisible() && qobject_cast<const QMainWindow *>(w) != nullptr;
    });
    return main == windows.cend() ? nullptr : *main;
}

} // namespace

ReportViewerWindow::ReportViewerWindow(Dialogs &dialogs, QWidget *parent)
    : QMainWindow(parent)
    , m_dialogs(dialogs)
{
    setObjectName(u"ReportViewer"_s);
    setWindowTitle(u"帳票"_s);
    // The main window's closing ends the program even while a report is still open here.
    setAttribute(Qt::WA_QuitOnClose, false);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(u"ReportText"_s);
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(reportFont(11));
    setCentralWidget(m_text);

    auto *tools = addToolBar(u"帳票"_s);
    tools->setObjectName(u"ReportTools"_s);
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const auto addAction = [&](const QString &name, const QString &caption) {
        QAction *action = tools->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    QAction *print = addAction(u"actPrint"_s, u"印刷..."_s);
    print->setShortcut(QKeySequence::Print);
    connect(print, &QAction::triggered, this, &ReportViewerWindow::askAndPrint);
    connect(addAction(u"actPdf"_s, u"PDFに保存..."_s), &QAction::triggered, this, &ReportViewerWindow::askAndSavePdf);
    connect(addAction(u"actEditor"_s, u"システムのエディタで開く"_s), &QAction::triggered, this,
            &ReportViewerWindow::openInEditor);
    QAction *close = addAction(u"actClose"_s, u"閉じる"_s);
    // Escape closes it as it closes every box of the desk.
    close->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)});
    connect(close, &QAction::triggered, this, &QWidget::close);

    resize(960, 720);
}

ReportViewerWindow::~ReportViewerWindow() = default;

void ReportViewerWindow::showReport(const QString &path, const QString &period)
{
    const QWidget *anchor = workingWindow(this);
    if (!load(path)) {
        return;
    }
    m_period = period;
    if (!isVisible() && anchor != nullptr && anchor != this) {
        placeOver(anchor);
    }
    show();
    raise();
    activateWindow();
}

bool ReportViewerWindow::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_dialogs.tell(
            u"帳票ファイルを開けません。\r\n%1\r\n理由: %2"_s.arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    QString text = decodeCp932(file.readAll());
    text.replace(u"\r\n"_s, u"\n"_s);
    m_text->setPlainText(text);
    m_text->moveCursor(QTextCursor::Start); // a report replacing another starts at its title
    m_path = path;
    m_period.clear();
    setWindowTitle(QFileInfo(path).fileName() + u" - 帳票"_s);
    return true;
}

void ReportViewerWindow::placeOver(const QWidget *anchor)
{
    // Over the middle of the main window rather than its corner, where it would hide the report
    // buttons, and never larger than the screen it opens on.
    const QRect room = anchor->screen()->availableGeometry();
    const QSize wanted(960, 720);
    resize(wanted.boundedTo(room.size() * 9 / 10));
    QRect frame(QPoint(), frameGeometry().size().expandedTo(size()));
    frame.moveCenter(anchor->frameGeometry().center());
    frame.moveLeft(std::clamp(frame.left(), room.left(), std::max(room.left(), room.right() - frame.width())));
    frame.moveTop(std::clamp(frame.top(), room.top(), std::max(room.top(), room.bottom() - frame.height())));
    move(frame.topLeft());
}

QString ReportViewerWindow::suggestedPdfName() const
{
    const QString base = QFileInfo(m_path).completeBaseName();
    return (m_period.isEmpty() ? base : base + u'_' + m_period) + u".pdf"_s;
}

QString ReportViewerWindow::text() const
{
    return m_text->toPlainText();
}

void ReportViewerWindow::printTo(QPagedPaintDevice &device) const
{
    // A copy of the text laid out for the page, a little smaller than on screen so that the widest
    // line of the month's report fits an A4 page without wrapping.
    const std::unique_ptr<QTextDocument> document(m_text->document()->clone());
    document->setDefaultFont(reportFont(9));
    document->print(&device);
}

bool ReportViewerWindow::saveAsPdf(const QString &pdfPath)
{
    // Made in memory first and written whole or not at all, so a failed save (a full disk) never
    // leaves half a PDF nor costs the earlier one.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(300);
        writer.setTitle(QFileInfo(m_path).fileName());
        printTo(writer);
    }
    const QString failure = writeWholeFile(pdfPath, pdf.data());
    if (!failure.isEmpty()) {
        m_dialogs.tell(
            u"PDF ファイルを書き込めません。\r\n%1\r\n理由: %2"_s.arg(QDir::toNativeSeparators(pdfPath), failure));
        return false;
    }
    return true;
}

void ReportViewerWindow::askAndPrint()
{
    QPrinter printer(QPrinter::HighResolution);
    // Printing to a PDF file suggests the same dated name as the PDF button.
    printer.setDocName(QFileInfo(suggestedPdfName()).completeBaseName());
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) {
        printTo(printer);
    }
}

void ReportViewerWindow::askAndSavePdf()
{
    const QString suggested = QFileInfo(m_path).absoluteDir().filePath(suggestedPdfName());
    const QString chosen = QFileDialog::getSaveFileName(this, u"PDFに保存"_s, suggested, u"PDF ファイル (*.pdf)"_s);
    if (!chosen.isEmpty()) {
        saveAsPdf(chosen);
    }
}

void ReportViewerWindow::openInEditor()
{
    if (!openWithSystemEditor(m_path)) {
        m_dialogs.tell(u"テキストエディタを起動できません。\r\n%1\r\n"
                       u"ファイルはこの場所にあります。お使いのエディタで開いてください。"_s.arg(
                           QDir::toNativeSeparators(m_path)));
    }
}

} // namespace qrb
