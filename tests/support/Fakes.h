#pragma once

#include "config/Clock.h"
#include "screens/common/Dialogs.h"
#include "screens/common/ReportViewer.h"

#include <QList>
#include <QStringList>

namespace qrb::test {

// Answers questions as scripted (OK unless told otherwise) and records every message.
class FakeDialogs final : public Dialogs
{
public:
    struct Message {
        QString text;
        QString title; // as the screen gave it; empty means the default "QRB"
        bool question = false;
        bool destructive = false; // asked with Cancel as the default answer
    };

    bool ask(const QString &text, const QString &title = QString()) override;
    bool askDestructive(const QString &text, const QString &title = QString()) override;
    void tell(const QString &text, const QString &title = QString()) override;

    // The answers to the next questions, in order; once they run out every question gets OK.
    QList<bool> answers;
    QList<Message> messages;

    QStringList texts() const;
    void clear() { messages.clear(); }
};

class FixedClock final : public Clock
{
public:
    explicit FixedClock(QDateTime at)
        : at(std::move(at))
    {
    }
    QDateTime now() const override { return at; }
    QDateTime at;
};

class RecordingViewer final : public ReportViewer
{
public:
    void showReport(const QString &path, const QString &period) override
    {
        shown << path;
        periods << period;
    }
    QStringList shown;
    QStringList periods;
};

} // namespace qrb::test
