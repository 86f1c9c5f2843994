#pragma once

#include <QDate>
#include <QList>
#include <QWidget>

class QCalendarWidget;
class QLabel;
class QToolButton;

namespace qrb {

class ClosedDays;

// Three months side by side with one selected day among them (objectName "MonthView1"). The arrows
// move all three by a month; choosing a day of a month not shown brings that month into view.
class MonthView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MonthView)

public:
    explicit MonthView(QWidget *parent = nullptr);
    ~MonthView() override;

    QDate selectedDate() const { return m_selected; }
    // The first day of the leftmost month shown.
    QDate firstMonth() const { return m_first; }
    // Selects a day from code: it is shown, and nothing is signalled.
    void setSelectedDate(QDate date);
    // Moves the three months by `months` (negative: back), keeping the selected day.
    void scrollMonths(int months);
    // Marks the days the clinic is shut (colour, and the reason as the day's tooltip). The days must
    // outlive the view.
    void markClosedDays(const ClosedDays &days);

signals:
    // The user chose a day.
    void dateClicked(QDate date);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void chosen(QCalendarWidget *calendar);
    void bringIntoView(QDate date);
    void render();
    void markMonth(QCalendarWidget *calendar, QDate month);

    QList<QCalendarWidget *> m_months;
    QList<QLabel *> m_titles;
    QToolButton *m_back = nullptr;
    QToolButton *m_forward = nullptr;
    QDate m_selected;
    QDate m_first;
    QDate m_selectedAtPress; // a click that changes nothing is told by comparing with this
    bool m_rendering = false;
    const ClosedDays *m_closed = nullptr;
};

} // namespace qrb
