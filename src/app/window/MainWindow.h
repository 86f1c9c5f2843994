#pragma once

#include <QMainWindow>

#include <functional>

class QAction;
class QLabel;
class QMdiArea;

namespace qrb {

struct ProgramState;

// The frame of the program (objectName "frmMain"): the menu of the nine entries, the status bar and
// an MDI area that holds at most one screen.
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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    using ScreenFactory = std::function<QWidget *(ProgramState &, QWidget *)>;
    void addEntry(const QString &name, const QString &caption, ScreenFactory factory);
    void openScreen(const ScreenFactory &factory);
    void confirmExit();

    ProgramState &m_state;
    QMdiArea *m_mdi = nullptr;
    QLabel *m_datePanel = nullptr;
    QLabel *m_timePanel = nullptr;
    bool m_closing = false;
};

} // namespace qrb
