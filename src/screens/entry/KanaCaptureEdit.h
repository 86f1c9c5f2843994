#pragma once

#include <QLineEdit>

namespace qrb {

// The name box. While the receptionist types a name through the Japanese input method, it keeps the
// reading of every committed conversion ("やまだ" typed, "山田" committed → "ﾔﾏﾀﾞ"), in typing order,
// as half-width katakana, so that leaving the box can fill the kana name without typing it twice.
class KanaCaptureEdit final : public QLineEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KanaCaptureEdit)

public:
    explicit KanaCaptureEdit(QWidget *parent = nullptr);
    ~KanaCaptureEdit() override;

    // Starts a new stay in the box: forgets what earlier stays captured.
    void startCapture();
    // The readings captured since startCapture, handed over once.
    QString takeCapturedReadings();

protected:
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    QString m_lastKanaPreedit; // the reading of the conversion now under way
    QString m_captured;
};

} // namespace qrb
