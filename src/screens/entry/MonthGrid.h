#pragma once

#include <QWidget>

class QDate;
class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace qrb {

struct ProgramState;
class DatePickers;

// The lower half of the entry screen: on the left the names booked in a slot (List1), on the right
// the month grid (ListView1) of reservations per day and slot, with its legend. Both show the row
// whose pickers they were last filled from.
class MonthGrid final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MonthGrid)

public:
    explicit MonthGrid(ProgramState &state, QWidget *parent = nullptr);
    ~MonthGrid() override;

    // The row's day and the later days of its month, with the reservations in each slot.
    void fillGrid(const DatePickers &row);
    // The names booked in the row's slot, in the order they were booked.
    void fillNames(const DatePickers &row);

    QListWidget *names() const { return m_names; }
    QTreeWidget *grid() const { return m_grid; }

signals:
    // A name of List1 chosen with the mouse or the keyboard.
    void nameChosen(const QString &name);
    // A double-click on the grid: its day, and the slot (0 … 9) when a slot's cell was hit, else -1.
    void dayChosen(const QDate &date, int slot);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyGridWidths();
    void gridDoubleClicked(const QTreeWidgetItem *item, int column);

    ProgramState &m_state;
    QListWidget *m_names = nullptr; // List1
    QTreeWidget *m_grid = nullptr;  // ListView1
};

} // namespace qrb
