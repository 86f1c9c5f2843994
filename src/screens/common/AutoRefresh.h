#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QGroupBox;
class QPushButton;
class QRadioButton;
class QTimer;
class QWidget;

namespace qrb {

class Dialogs;

// The "自動更新" frame (ON / OFF), the "手動更新" button and the 10 s timer of a screen that shows what
// other workstations change meanwhile. While automatic refresh is on the timer runs and the button is
// unavailable. The screen places the frame and the button and connects the timer and the button to its
// own reactions.
class AutoRefresh final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutoRefresh)

public:
    // The frame "Frame1" with "Option1(0)" (ON) and "Option1(1)" (OFF), the button named `buttonName`
    // and the timer "Timer1", all belonging to `screen`. Automatic refresh starts neither on nor off:
    // the screen decides with setOn().
    AutoRefresh(const QString &buttonName, QWidget *screen);
    ~AutoRefresh() override;

    QGroupBox *frame() const;
    QPushButton *button() const;
    QTimer *timer() const;

    void setOn(bool on);

    // One tick: `read` again. A DbError from it switches automatic refresh off before the user is told
    // `failure`, that automatic refresh stopped, and the error: the message box waits for the user
    // while the timer would go on ticking, so the user is told once and not every ten seconds.
    void tick(Dialogs &dialogs, const QString &failure, const std::function<void()> &read);

private:
    QGroupBox *m_frame = nullptr;
    QRadioButton *m_on = nullptr;  // "Option1(0)"
    QRadioButton *m_off = nullptr; // "Option1(1)"
    QPushButton *m_button = nullptr;
    QTimer *m_timer = nullptr; // "Timer1"
};

} // namespace qrb
