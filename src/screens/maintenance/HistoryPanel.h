#pragma once

#include "db/History.h"

#include <QList>
#include <QWidget>

#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace qrb {

struct ProgramState;

// The history of changes on the maintenance screen (objectName "fraHistory"): the changes made on a
// day, or those of a reservation number, patient number or name, newest first, shown in a list and
// written as a text report (shown in the report viewer, to print or save as PDF) or as CSV.
class HistoryPanel final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryPanel)

public:
    explicit HistoryPanel(ProgramState &state, QWidget *parent = nullptr);
    ~HistoryPanel() override;

    // Reads the history the key asks for into the list; the rows, or nothing when the key is not
    // usable or the database failed (the user has been told).
    std::optional<QList<HistoryEntry>> showHistory();

private:
    void keyChanged(int index);
    void writeReport();
    void writeCsv();
    QString condition() const;

    ProgramState &m_state;
    QComboBox *m_key = nullptr;          // Combo1: 日付, 予約番号, 患者番号, 氏名
    QLineEdit *m_value = nullptr;        // Text2
    QPushButton *m_commands[3] = {};     // Command4(0) 表示, (1) 帳票, (2) CSV出力
    QTableWidget *m_list = nullptr;      // ListView1
};

} // namespace qrb
