#pragma once

#include <QString>

namespace qrb {

// The one way a screen asks (OK / Cancel) or tells (OK). Lines of a message are separated by CR LF.
// An empty title means the application's name, "QRB". Escape always answers Cancel.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // True when the user answered OK.
    virtual bool ask(const QString &text, const QString &title = QString()) = 0;
    // A question whose OK deletes or replaces data: it carries a warning, and Cancel is its default
    // answer, so that an Enter pressed out of habit keeps the data. True when the user chose OK.
    // A Dialogs that asks no real user (a test's) may answer it as any question.
    virtual bool askDestructive(const QString &text, const QString &title = QString()) { return ask(text, title); }
    virtual void tell(const QString &text, const QString &title = QString()) = 0;
};

// Modal message boxes over the active window.
class MessageBoxDialogs final : public Dialogs
{
public:
    bool ask(const QString &text, const QString &title = QString()) override;
    bool askDestructive(const QString &text, const QString &title = QString()) override;
    void tell(const QString &text, const QString &title = QString()) override;
};

} // namespace qrb
