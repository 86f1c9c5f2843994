#pragma once

#include <QString>
#include <QWidget>

namespace qrb {

// A label, button or option with its caption, given its objectName where it is made, as every control
// of a screen is.
template <class Control> Control *named(const QString &name, const QString &caption, QWidget *parent)
{
    auto *control = new Control(caption, parent);
    control->setObjectName(name);
    return control;
}

} // namespace qrb
