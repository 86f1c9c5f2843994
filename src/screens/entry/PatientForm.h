#pragma once

#include "EntryRules.h"

#include <QWidget>

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace qrb {

class Clock;
class KanaCaptureEdit;
struct BookingRecord;
struct Reservation;

// The patient's half of the entry screen: the patient line (number, name, kana, era and birth date
// with the age, telephones) and below it the 来院歴, 組合員 and 種別 frames and the remarks. It holds
// what these fields do on their own: leaving the name appends its readings to the kana, leaving the
// birth date rewrites it and shows the age, a stored reservation fills them, a booking is read from
// them. What needs the database or the date rows is the screen's, told through the signals.
class PatientForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PatientForm)

public:
    PatientForm(const Clock &clock, QWidget *parent = nullptr);
    ~PatientForm() override;

    // Text1(index) as it stands; Text1(6) is the remarks, there is no Text1(7).
    QString text(int index) const;
    void setText(int index, const QString &value);
    // The box Text1(index), for the screen's tab order.
    QWidget *box(int index) const;
    // Combo1(4), the era of the birth date.
    QComboBox *era() const { return m_era; }
    // A red "(必須入力)" beside the caption of a field that must be filled.
    static QLabel *requiredLabel(const QString &name, QWidget *parent);

    // Combo1_4_set: the calendars, 西暦 chosen.
    void fillEras();
    // The patient's share of input_clear: every box and the age emptied, no option chosen.
    void clear();
    // A stored reservation into the fields: all of them (a name chosen in List1) or only the patient's
    // own data with 来院歴あり (a patient-number look-up).
    void fill(const Reservation &r, bool wholeReservation);
    // The 種別 option chosen: 0 季節性, 1 新型, 2 新型　１回目, 3 新型  ２回目, -1 none.
    int type() const;
    // The booking of a slot as the fields stand, with the dose codes given.
    BookingRecord bookingOf(const Slot &slot, DoseCodes codes) const;

    void Text1_GotFocus(int index);
    void Text1_LostFocus(int index);

signals:
    // A left mouse click entered the name (0) or patient-number (8) box.
    void boxClicked(int index);
    // The patient-number box was left holding `number`.
    void numberLeft(const QString &number);
    // The receptionist clicked a 種別 option.
    void typeClicked(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const Clock &m_clock;
    KanaCaptureEdit *m_name = nullptr;
    std::array<QLineEdit *, 9> m_lineEdits{};
    QPlainTextEdit *m_remarks = nullptr;
    QComboBox *m_era = nullptr;
    QLabel *m_age = nullptr;      // Label6
    QLabel *m_ageValue = nullptr; // Label3(1), only ever emptied
    std::array<QRadioButton *, 2> m_visited{};
    std::array<QRadioButton *, 2> m_member{};
    std::array<QRadioButton *, 4> m_type{};
    // The box a mouse button has just entered: only a left click that enters it starts a new entry.
    int m_enteredByMouse = -1;
};

} // namespace qrb
