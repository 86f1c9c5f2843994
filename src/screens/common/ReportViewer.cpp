#include "ReportViewer.h"

#include <QDesktopServices>
#include <QUrl>

namespace qrb {

bool openWithSystemEditor(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace qrb
