#pragma once

#include <QDate>
#include <QWidget>

class QLabel;
class QRadioButton;
class QTableWidget;

namespace qrb {

struct ProgramState;
class AutoRefresh;
class MonthView;

// How a day is booked (objectName "frmKakunin"): a day picked on the three-month calendar, its counts
// and rates, and the names of its reservations under their hours. Reads only.
class StatusScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusScreen)

public:
    explicit StatusScreen(ProgramState &state, QWidget *parent = nullptr);
    ~StatusScreen() override;

    // Automatic refresh off, "手動更新" available, visited patients shown; the day is read again.
    void option_set();
    // A day chosen on the calendar: its heading, counts and names.
    void MonthView1_DateClick(QDate day);
    // Every 10 s while automatic refresh is on, and "手動更新": counts and names read again. A failed
    // read during a tick switches automatic refresh off, so that the user is told once.
    void Timer1_Timer();
    void Command1_Click();

private:
    // Each throws DbError before it changed anything on the screen.
    void status_set(QDate day);
    void ListView1_set();
    bool refreshDay();
    bool refreshList();

    ProgramState &m_state;
    MonthView *m_calendar = nullptr;      // "MonthView1"
    QLabel *m_selected = nullptr;         // "Label1"
    QLabel *m_statistics = nullptr;       // "Label2"
    QTableWidget *m_list = nullptr;       // "ListView1"
    QRadioButton *m_showVisited = nullptr; // "Option2(0)"
    QRadioButton *m_hideVisited = nullptr; // "Option2(1)"
    AutoRefresh *m_autoRefresh = nullptr; // "Frame1", "Command1", "Timer1"
};

} // namespace qrb
