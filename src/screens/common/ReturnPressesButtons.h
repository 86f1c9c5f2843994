#pragma once

#include <QObject>

namespace qrb {

// Return (or Enter on the keypad) on a focused button presses it, on every screen and window of the
// program, as receptionists expect: Qt itself presses a button with Return only inside a dialog.
// Installed once on the application; a held key presses once.
class ReturnPressesButtons final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReturnPressesButtons)

public:
    using QObject::QObject;
    ~ReturnPressesButtons() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace qrb
