#pragma once

#include "Reports.h"

#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

namespace qrb {

class DatePickers;
struct ProgramState;

// The reports screen (objectName "frmNote", caption "帳票"): a day chosen with the year, month and day
// selectors, and three buttons that each write a report file into TXTPATH and show it.
class ReportScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReportScreen)

public:
    explicit ReportScreen(ProgramState &state, QWidget *parent = nullptr);
    ~ReportScreen() override;

    void today_set();
    void Combo1_0_set();
    void Combo1_1_set();
    void Combo1_2_set();
    void Combo1_2_set2();
    // 0 the daily report, 1 the list of patients not yet come; any other index does nothing.
    void Command1_Click(int index);
    // 0 the monthly report.
    void Command2_Click(int index);

private:
    void makeReport(ReportKind kind, std::optional<QDate> day);

    ProgramState &m_state;
    QComboBox *m_year = nullptr;         // "Combo1(0)"
    QComboBox *m_month = nullptr;        // "Combo1(1)"
    QComboBox *m_day = nullptr;          // "Combo1(2)"
    QLabel *m_weekday = nullptr;         // "Label3(2)"
    QPushButton *m_daily = nullptr;      // "Command1(0)"
    QPushButton *m_notVisited = nullptr; // "Command1(1)"
    QPushButton *m_monthly = nullptr;    // "Command2(0)"
    DatePickers *m_pickers = nullptr;
};

} // namespace qrb
