#include "KanaCaptureEdit.h"

#include "shared/Kana.h"

#include <QInputMethodEvent>

namespace qrb {

KanaCaptureEdit::KanaCaptureEdit(QWidget *parent)
    : QLineEdit(parent)
{
}

KanaCaptureEdit::~KanaCaptureEdit() = default;

void KanaCaptureEdit::startCapture()
{
    m_lastKanaPreedit.clear();
    m_captured.clear();
}

QString KanaCaptureEdit::takeCapturedReadings()
{
    return std::exchange(m_captured, QString());
}

void KanaCaptureEdit::inputMethodEvent(QInputMethodEvent *event)
{
    // While converting, the input method shows the reading ("やまだ") and then candidates ("山田");
    // the last preedit made of kana only is the reading of what gets committed. A commit that is kana
    // itself is its own reading. One event may commit a conversion and start the next preedit, so the
    // commit is taken before the new preedit is looked at.
    const QString commit = event->commitString();
    const QString preedit = event->preeditString();
    if (!commit.isEmpty()) {
        const QString reading = isAllKana(commit) ? commit : m_lastKanaPreedit;
        m_captured += toHalfwidthKatakana(reading);
        m_lastKanaPreedit.clear();
    }
    // An empty preedit is not taken as an abandoned conversion: some input methods clear the preedit
    // in an event of its own just before they commit.
    if (isAllKana(preedit)) {
        m_lastKanaPreedit = preedit;
    }
    QLineEdit::inputMethodEvent(event);
}

} // namespace qrb
