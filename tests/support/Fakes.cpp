#include "Fakes.h"

namespace qrb::test {

bool FakeDialogs::ask(const QString &text, const QString &title)
{
    messages.append({text, title, true, false});
    return answers.isEmpty() ? true : answers.takeFirst();
}

bool FakeDialogs::askDestructive(const QString &text, const QString &title)
{
    messages.append({text, title, true, true});
    return answers.isEmpty() ? true : answers.takeFirst();
}

void FakeDialogs::tell(const QString &text, const QString &title)
{
    messages.append({text, title, false, false});
}

QStringList FakeDialogs::texts() const
{
    QStringList out;
    for (const Message &m : messages) {
        out << m.text;
    }
    return out;
}

} // namespace qrb::test
