#include "ReportFile.h"

#include "shared/Cp932.h"
#include "shared/WholeFile.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qrb {

ReportFileError::ReportFileError(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_message(message)
{
}

QString reportFolder(const QString &startDir, const QString &txtPath)
{
    return QDir::cleanPath(QDir(startDir).filePath(txtPath));
}

WrittenReport writeReportFile(const QString &folder, const QString &fileName, const QString &text)
{
    const Cp932Bytes encoded = encodeCp932(text);
    WrittenReport written = writeReportBytes(folder, fileName, encoded.bytes);
    written.replaced = encoded.replaced;
    return written;
}

WrittenReport writeReportBytes(const QString &folder, const QString &fileName, const QByteArray &bytes)
{
    const QString shownFolder = QDir::toNativeSeparators(folder);
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists()) {
        if (!QDir().mkdir(folder)) {
            throw ReportFileError(
                u"帳票の保存先フォルダを作成できません。\r\n%1\r\n"
                u"setting.ini の TXTPATH と、フォルダの場所に書き込めるかを確かめてください。"_s.arg(shownFolder));
        }
    } else if (!folderInfo.isDir()) {
        throw ReportFileError(u"帳票の保存先がフォルダではありません。\r\n%1\r\n"
                              u"setting.ini の TXTPATH を確かめてください。"_s.arg(shownFolder));
    }

    const QString path = QDir(folder).filePath(fileName);
    const QString failure = writeWholeFile(path, bytes);
    if (!failure.isEmpty()) {
        throw ReportFileError(
            u"帳票ファイルを書き込めません。以前のファイルはそのままです。\r\n%1\r\n理由: %2"_s.arg(
                QDir::toNativeSeparators(path), failure));
    }
    return {path, 0};
}

} // namespace qrb
