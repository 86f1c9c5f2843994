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

    bool ask(const QString &text, const QString &title = {}) override { return note({text, title, true, false}); }
    bool askDestructive(const QString &text, const QString &title = {}) override
    {
        return note({text, title, true, true});
    }
    void tell(const QString &text, const QString &title = {}) override { note({text, title, false, false}); }

    // The answers to the next questions, in order; once they run out every question gets OK.
    QList<bool> answers;
    QList<Message> messages;

    QStringList texts() const
    {
        QStringList out;
        for (const Message &m : messages) {
            out << m.text;
        }
        return out;
    }
    void clear() { messages.clear(); }

private:
    bool note(const Message &m)
    {
        messages.append(m);
        return answers.isEmpty() || !m.question || answers.takeFirst();
    }
};

class FixedClock final : public Clock
{
public:
    QDateTime now() const override { return at; }
    QDateTime at{QDate(2009, 10, 9), QTime(10, 30)};
};

class RecordingViewer final : public ReportViewer
{
public:
    void showReport(const QString &path, const QString &) override { shown << path; }
    QStringList shown;
};

} // namespace qrb::test
