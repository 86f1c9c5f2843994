// The window that shows a written report.
#include "support/Workspace.h"

#include "screens/reports/ReportViewerWindow.h"
#include "shared/Cp932.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString writeReport(const QString &folder)
{
    const QString path = folder + u"/日報.txt"_s;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        // 予 holds the byte 0x5C: it must come back as 予, not as a backslash.
        file.write(qrb::encodeCp932(u"予約 08時 ～ 09時\r\n○山田\r\n"_s).bytes);
    }
    return path;
}

} // namespace

class ReportViewerTest : public QObject
{
    Q_OBJECT

private slots:
    void showsTheDecodedFileReadOnlyInAMonospacedFont()
    {
        qrb::test::Workspace ws;
        qrb::ReportViewerWindow viewer(ws.dialogs);
        viewer.showReport(writeReport(ws.folder()), u"2009-10-09"_s);
        QVERIFY(viewer.isVisible());
        QCOMPARE(viewer.text(), u"予約 08時 ～ 09時\n○山田\n"_s);
        QVERIFY(viewer.windowTitle().startsWith(u"日報.txt"_s));
        auto *text = viewer.findChild<QPlainTextEdit *>(u"ReportText"_s);
        QVERIFY(text->isReadOnly());
        // Columns are padded by characters: a full-width character must take exactly two half-width ones.
        const QFontMetricsF metrics(text->font());
        QCOMPARE(metrics.horizontalAdvance(u"i"_s), metrics.horizontalAdvance(u"W"_s));
        QCOMPARE(metrics.horizontalAdvance(u"予　"_s), 4 * metrics.horizontalAdvance(u"-"_s));
        QVERIFY(ws.dialogs.messages.isEmpty());
    }

    void aMissingFileOrAnUnwritablePdfIsTold()
    {
        qrb::test::Workspace ws;
        qrb::ReportViewerWindow viewer(ws.dialogs);
        viewer.showReport(ws.folder() + u"/none.txt"_s, u"2009-10-09"_s);
        QVERIFY(!viewer.isVisible());
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"帳票ファイルを開けません。"_s));

        ws.dialogs.clear();
        QVERIFY(viewer.load(writeReport(ws.folder())));
        QVERIFY(viewer.saveAsPdf(ws.folder() + u"/日報.pdf"_s));
        QFile pdf(ws.folder() + u"/日報.pdf"_s);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QCOMPARE(pdf.read(5), QByteArray("%PDF-"));
        QVERIFY(ws.dialogs.messages.isEmpty());

        QVERIFY(!viewer.saveAsPdf(ws.folder() + u"/missing/日報.pdf"_s));
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"PDF ファイルを書き込めません。"_s));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/missing"_s));
    }

    // Opened from the main window it covers that window's middle, not the report buttons in its corner;
    // Escape closes it, and its PDF is named after the day, so the next day's does not overwrite it.
    void opensOverTheMainWindowNamesItsPdfByDayAndClosesOnEscape()
    {
        qrb::test::Workspace ws;
        QWidget desk;
        desk.setGeometry(20, 20, 760, 760); // the offscreen screen is 800 × 800
        desk.show();
        QVERIFY(QTest::qWaitForWindowActive(&desk));
        qrb::ReportViewerWindow viewer(ws.dialogs);
        viewer.showReport(writeReport(ws.folder()), u"2009-10-09"_s);
        QVERIFY(QTest::qWaitForWindowActive(&viewer));
        // Within the window frame's few pixels, which are known only once it is shown.
        QVERIFY((viewer.frameGeometry().center() - desk.frameGeometry().center()).manhattanLength() <= 8);
        QCOMPARE(viewer.suggestedPdfName(), u"日報_2009-10-09.pdf"_s);
        QTest::keyClick(&viewer, Qt::Key_Escape);
        QVERIFY(!viewer.isVisible());
    }
};

QTEST_MAIN(ReportViewerTest)
#include "tst_reportviewer.moc"
