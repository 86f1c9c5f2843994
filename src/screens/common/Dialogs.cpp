#include "Dialogs.h"

#include <QApplication>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

QMessageBox::StandardButton show(const QString &text, const QString &title, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? u"QRB"_s : title, QString(text).replace(u"\r\n"_s, u"\n"_s),
                    buttons, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

bool MessageBoxDialogs::ask(const QString &text, const QString &title)
{
    return show(text, title, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void MessageBoxDialogs::tell(const QString &text, const QString &title)
{
    show(text, title, QMessageBox::Ok);
}

} // namespace qrb
