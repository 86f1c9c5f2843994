#include "Dialogs.h"

#include <QApplication>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

QMessageBox::StandardButton show(const QString &text, const QString &title, QMessageBox::Icon icon,
                                 QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title.isEmpty() ? u"QRB"_s : title, QString(text).replace(u"\r\n"_s, u"\n"_s), buttons,
                    QApplication::activeWindow());
    // Messages carry names and remarks as stored: "<b>髙橋</b>" from the web is shown as typed.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    // With OK alone Escape closes the box as OK; with a question it answers Cancel.
    box.setEscapeButton(buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

bool MessageBoxDialogs::ask(const QString &text, const QString &title)
{
    return show(text, title, QMessageBox::NoIcon, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok)
           == QMessageBox::Ok;
}

bool MessageBoxDialogs::askDestructive(const QString &text, const QString &title)
{
    return show(text, title, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel)
           == QMessageBox::Ok;
}

void MessageBoxDialogs::tell(const QString &text, const QString &title)
{
    show(text, title, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace qrb
