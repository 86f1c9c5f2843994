#pragma once

#include "db/Maintenance.h"

#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qrb {

class HistoryPanel;
struct ProgramState;

// Database maintenance (objectName "frmDBAdmin"): compaction of the database file, deletion of
// all reservations or of those of a period, and the history of every change ("操作履歴").
class DBAdminScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DBAdminScreen)

public:
    explicit DBAdminScreen(ProgramState &state, QWidget *parent = nullptr);
    ~DBAdminScreen() override;

private:
    void YOYAKU_all_delete();
    void YOYAKU_period_delete();
    void compact();
    void showDeletionControls(bool visible);
    void deleteAll();
    void deletePeriod();
    // Runs a deletion (with its backup) and tells `done` and where the backup lies, or why nothing
    // was deleted.
    void runDeletion(const QString &done, const std::function<Deletion()> &deletion);
    void tellFailure(const QString &doing, const QString &reason);

    ProgramState &m_state;
    std::array<QPushButton *, 2> m_commands{};  // Command1(0) compaction, Command1(1) deletion controls
    std::array<QPushButton *, 2> m_deletions{}; // Command2(0) all, Command2(1) period
    std::array<QLabel *, 3> m_labels{};         // Label1(0) … Label1(2)
    std::array<QLineEdit *, 2> m_period{};      // Text1(0) first date, Text1(1) last date
    QPushButton *m_historyButton = nullptr;     // Command3 "操作履歴"
    HistoryPanel *m_history = nullptr;          // shown by Command3
};

} // namespace qrb
