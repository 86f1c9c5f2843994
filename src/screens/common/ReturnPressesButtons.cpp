#include "ReturnPressesButtons.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace qrb {

ReturnPressesButtons::~ReturnPressesButtons() = default;

bool ReturnPressesButtons::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const auto *key = static_cast<const QKeyEvent *>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        return false;
    }
    auto *button = qobject_cast<QAbstractButton *>(watched);
    if (button == nullptr || !button->isEnabled() || !button->hasFocus()) {
        return false;
    }
    // A dialog's buttons already answer Return themselves (their autoDefault); option buttons and
    // check boxes are no buttons to press.
    const auto *push = qobject_cast<const QPushButton *>(button);
    if (push != nullptr ? push->autoDefault() : qobject_cast<const QToolButton *>(button) == nullptr) {
        return false;
    }
    if (!key->isAutoRepeat()) {
        button->click();
    }
    return true;
}

} // namespace qrb
