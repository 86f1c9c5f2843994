#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QComboBox;
class QDate;
class QLabel;
class QWidget;

namespace qrb {

class Clock;

// One row of date pickers: year, month and day combos, optionally the hour combo, and the weekday
// label beside them. The entry screen has two such rows, the visit record and reports screens one;
// all of them fill, default and correct their pickers through this one class. The combos and the
// label belong to the screen (their objectNames and places are the screen's); this class only
// fills them and reacts to the focus leaving them.
class DatePickers final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatePickers)

public:
    DatePickers(const Clock &clock, QComboBox *year, QComboBox *month, QComboBox *day, QComboBox *hour,
                QLabel *weekday, QObject *parent = nullptr);
    ~DatePickers() override;

    // A picker combo: editable without completion, typed text never added to its list, named and at
    // least `width` wide.
    static QComboBox *makeCombo(const QString &name, int width, QWidget *parent);

    // Year list: this year and the next; the text becomes this year.
    void Combo_0_set();
    // Month list "01" … "12"; the text becomes this month.
    void Combo_1_set();
    // Day list of the chosen year and month; the text becomes today's day.
    void Combo_2_set();
    // Day list again for the chosen year and month, keeping the chosen day, or the month's last day
    // when the chosen one lies beyond it.
    void Combo_2_set2();
    // Hour list "08" … "17"; the text becomes the current hour, held within the slots.
    void Combo_3_set();
    // The three date texts set to today (without refilling the lists), then the weekday label.
    void today_set();
    // Sets the three date texts (and the label) to a given day.
    void setDate(const QDate &date);
    // The weekday label for the three texts; a text that is no date leaves the label as it was.
    void updateWeekday();

    QString year() const;
    QString month() const;
    QString day() const;
    QString hour() const;
    // "YYYY/MM/DD" from the texts as they stand.
    QString dateKey() const;
    // The date the texts name, or nothing when they are no date.
    std::optional<QDate> date() const;

signals:
    // The focus left one of the row's combos: 0 year, 1 month, 2 day, 3 hour. The day list and
    // the weekday label have already followed.
    void pickerLeft(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const Clock &m_clock;
    QComboBox *m_year;
    QComboBox *m_month;
    QComboBox *m_day;
    QComboBox *m_hour;
    QLabel *m_weekday;
    bool m_closing = false; // one of the combos has been deleted: the screen is closing
};

} // namespace qrb
