#pragma once

#include <QList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qrb {

struct ProgramState;

// The places offered per weekday and hourly slot (objectName "frmSetting"): seventy cells, Monday to
// Sunday across and 08:00 to 18:00 down, saved all together with "登録・修正".
class SettingsScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsScreen)

public:
    explicit SettingsScreen(ProgramState &state, QWidget *parent = nullptr);
    ~SettingsScreen() override;

    // Cell i stands for weekday i mod 7 + 1 (Monday 1) and the slot starting at 8 + i div 7 o'clock.
    static int weekdayOfCell(int index);
    static QString slotOfCell(int index);
    static constexpr int CellCount = 70;

    void grid_init();
    // Every cell from SETTING; false (after telling the user) when the table could not be read.
    bool grid_load();
    // Checks every cell, then writes all of them at once; false when nothing was written.
    bool grid_save();

private:
    ProgramState &m_state;
    QList<QLineEdit *> m_cells;    // "Text1(0)" … "Text1(69)"
    QList<QLabel *> m_weekdays;    // "Label3(0)" … "Label3(6)"
    QList<QLabel *> m_slots;       // "Label2(0)" … "Label2(9)"
    QPushButton *m_save = nullptr; // "Command1"
};

} // namespace qrb
