#pragma once

#include <QMainWindow>

#include <functional>

class QAction;
class QCoreApplication;
class QLabel;
class QMdiArea;
class QTimer;

namespace qrb {

struct ProgramState;
class NoticeLabel;

// Qt's own dialogs (the buttons of every question, the file and print dialogs) in Japanese, as the
// rest of the desk is, whatever the workstation's language. False when the translations are missing.
bool installJapaneseTranslations(QCoreApplication &app);

// The frame of the program (objectName "frmMain"): the menu of the nine entries (F1 … F9 in menu
// order), the status bar, whose first panel tells what the desk has just written, and an MDI area
// that holds at most one screen, always maximised.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(ProgramState &state, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Closes every screen without asking; whatever was typed and not stored is discarded.
    void MDIForm_close();
    // The open screen, or nullptr.
    QWidget *currentScreen() const;
    // Puts the date and time panels in step with the clock (also called every second).
    void refreshStatusBar();
    // How long a notice stays in the status bar before it fades.
    static constexpr int NoticeMilliseconds = 30000;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    using ScreenFactory = std::function<QWidget *(ProgramState &, QWidget *)>;
    QAction *addEntry(const QString &name, const QString &caption, ScreenFactory factory);
    void openScreen(const ScreenFactory &factory);
    void confirmExit();
    void showNotice(const QString &text);
    void fadeNotice();

    ProgramState &m_state;
    QMdiArea *m_mdi = nullptr;
    QLabel *m_datePanel = nullptr;
    QLabel *m_timePanel = nullptr;
    NoticeLabel *m_noticePanel = nullptr; // "StatusNotice"
    QTimer *m_noticeTimer = nullptr; // "NoticeTimer"
    bool m_closing = false;
};

} // namespace qrb
