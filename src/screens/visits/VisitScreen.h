#pragma once

#include "db/Visits.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace qrb {

struct ProgramState;
class AutoRefresh;
class DatePickers;
class VisitList;

// The reservations of one day in two lists, not yet come and come (objectName "frmRaiin"). Moving a
// line to the other list, by "⇔" or by dragging it, records or clears the patient's arrival at once.
class VisitScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VisitScreen)

public:
    explicit VisitScreen(ProgramState &state, QWidget *parent = nullptr);
    ~VisitScreen() override;

    // Each line carries the reservation it stands for in these roles (the number is not shown).
    static constexpr int YnoRole = Qt::UserRole;
    static constexpr int TimeRole = Qt::UserRole + 1;
    static constexpr int NameRole = Qt::UserRole + 2;

    void Combo1_0_set();
    void Combo1_1_set();
    void Combo1_2_set();
    // Automatic refresh off, "手動更新" available.
    void option_set();

    // Rebuilds both lists for the day the pickers show; false (after telling the user) when the
    // reservations could not be read, the lists then stay as they were.
    bool refreshLists();
    // "⇔": the selected line of each list goes to the other one.
    void Command1_Click();
    // A line of the other list let go on List1 (back to not yet come) or on List2 (came).
    void List1_DragDrop();
    void List2_DragDrop();
    // The details of a not-yet-come patient's reservation.
    void detail_show(QListWidgetItem *line);
    // Every 10 s while automatic refresh is on. A failed read switches automatic refresh off, so that
    // the user is told once and not every ten seconds.
    void Timer1_Timer();

private:
    // Writes the flag of each selected line of `from` and moves the line to `to`; false after a failure.
    bool moveSelected(QListWidget *from, QListWidget *to, int cflg);
    // Reads both lists of the picked day, then shows them; throws DbError before anything changed.
    void loadLists();
    void fill(QListWidget *list, const QList<VisitEntry> &entries);
    // True, after telling the user that nothing moved, when the line chosen for a move vanished in a
    // refresh and nothing else has been chosen since.
    bool chosenLineGone();

    ProgramState &m_state;
    QComboBox *m_year = nullptr;  // "Combo1(0)"
    QComboBox *m_month = nullptr; // "Combo1(1)"
    QComboBox *m_day = nullptr;   // "Combo1(2)"
    QLabel *m_weekday = nullptr;  // "Label3(2)"
    DatePickers *m_pickers = nullptr;
    VisitList *m_waiting = nullptr;  // "List1": not yet come
    VisitList *m_visited = nullptr;  // "List2": came
    QPushButton *m_move = nullptr;   // "Command1"
    AutoRefresh *m_autoRefresh = nullptr; // "Frame1", "Command3", "Timer1"
    // The day the lists show; a move writes the flag for that day even when a picker was retyped since.
    QString m_shownKey;
    bool m_chosenGone = false; // a refresh dropped the chosen line: its reservation is no longer listed
};

} // namespace qrb
