#pragma once

#include "EntryRules.h"

#include <QWidget>

#include <array>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qrb {

struct ProgramState;
struct Reservation;
struct BookingRecord;
struct StoredBooking;
class DatePickers;
class DbError;
class KanaCaptureEdit;

// The reservation entry screen (objectName "frmYoyaku", caption "予約管理"): the patient's data, the
// slot of the reservation (row 1) and of a second dose (row 2), the month grid of booked places and the
// names booked in a slot. Registering, changing and cancelling a reservation happen here.
class EntryScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EntryScreen)

public:
    explicit EntryScreen(ProgramState &state, QWidget *parent = nullptr);
    ~EntryScreen() override;

    // Full reset: patient fields empty, row 1 on today and the current slot, grid and names refreshed.
    void all_clear();
    // Reset after an action: the patient fields and options, keeping row 1's slot and its slot line.
    void input_clear();

    void ListView1_set();
    void ListView1_set2();
    void List1_set();
    void List1_set2();

    // 0 予約登録, 1 予約取消.
    void Command1_Click(int index);
    // 確認 of row 1 (0) or row 2 (1).
    void Command2_Click(int index);
    // The user chose a 種別 option (0 季節性, 1 新型, 2 新型　１回目, 3 新型  ２回目).
    void Option3_Click(int index);
    // A mouse click that enters the name (0) or patient-number (8) box starts a new entry.
    void Text1_Click(int index);
    void Text1_GotFocus(int index);
    void Text1_LostFocus(int index);
    void List1_Click(const QString &name);
    // Fills the form from a reservation: mode 1 the name `key` in the slot of the row last checked,
    // mode 2 the newest reservation of the patient number `key`.
    void yoyaku_set(int mode, const QString &key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void Form_Load();
    void Combo1_0_set();
    void Combo1_1_set();
    void Combo1_2_set();
    void Combo1_3_set();
    void Combo1_4_set();
    void Combo2_0_set();
    void Combo2_1_set();
    void Combo2_2_set();
    void Combo2_3_set();

    void registerBooking();
    // Stores one dose; a full slot asks the over-booking question (titled as given) first. False when
    // the receptionist declined.
    // The stored booking, or nothing when the receptionist declined to over-book.
    std::optional<StoredBooking> storeAskingWhenFull(const BookingRecord &booking, const QString &questionTitle);
    // A double-click on the month grid: that day (and the cell's hour) into row 1, then its 確認.
    void gridDoubleClicked(const QTreeWidgetItem *item, int column);
    void cancelBooking();
    void refreshAfterWriting(const Slot &slot, const QString &whatWasDone);
    void setButtonStates();
    void fillGrid(const DatePickers &row);
    void fillNames(const DatePickers &row);
    void applyGridWidths();
    // "休診日（…）" beside row 0's or row 1's slot line while the row stands on a closed day.
    void showClosedNote(int row);
    void setRowTwoVisible(bool visible);
    void fillFromReservation(const Reservation &r, bool wholeReservation);

    // The slot of row 0 or 1 as its pickers stand; a slot that is no slot is told to the user.
    std::optional<Slot> checkedSlot(int row);
    // False, after telling the user and putting the cursor into row 2's month, when the second dose
    // does not come after the first.
    bool secondDoseAfterFirst(const Slot &first, const Slot &second);
    QString slotLineOf(const Slot &slot);
    BookingRecord bookingOf(const Slot &slot, DoseCodes codes) const;
    void tellFailure(const QString &whatFailed, const DbError &error);

    QString text(int index) const;
    void setText(int index, const QString &value);

    ProgramState &m_state;

    // Text1(0) … Text1(8); there is no Text1(7). Text1(6) (remarks) is multi-line.
    KanaCaptureEdit *m_name = nullptr;
    std::array<QLineEdit *, 9> m_lineEdits{};
    QPlainTextEdit *m_remarks = nullptr;

    std::array<QComboBox *, 5> m_combo1{}; // year, month, day, hour, era of the birth date
    std::array<QComboBox *, 4> m_combo2{};
    DatePickers *m_row1 = nullptr;
    DatePickers *m_row2 = nullptr;

    QLabel *m_age = nullptr;       // Label6
    QLabel *m_ageValue = nullptr;  // Label3(1), only ever emptied
    QLabel *m_slotLine1 = nullptr; // Label3(0)
    QLabel *m_slotLine2 = nullptr; // Label4(0)
    // Beside each slot line: "休診日（…）" on a closed day.
    std::array<QLabel *, 2> m_closedNote{};
    QGroupBox *m_memberFrame = nullptr;
    std::array<QRadioButton *, 2> m_visited{};
    std::array<QRadioButton *, 2> m_member{};
    std::array<QRadioButton *, 4> m_type{};
    std::array<QPushButton *, 2> m_command1{};
    std::array<QPushButton *, 2> m_command2{};
    QList<QWidget *> m_rowTwo;      // shown and hidden together
    QListWidget *m_names = nullptr; // List1
    QTreeWidget *m_grid = nullptr;  // ListView1

    int m_kakuninRow = 0; // the row whose slot List1 shows

    // The reservation loaded from List1: 予約取消 deletes that one, wherever the pickers stand now, and
    // registering it again without another 種別 keeps the codes a 新型 pair record was stored with.
    struct Loaded {
        int yno = 0;
        int type = -1; // the 種別 option the load selected
        DoseCodes codes;
        QString ydate; // its slot, for what the status bar tells after cancelling it
        QString ytime;
    };
    std::optional<Loaded> m_loaded;
    // Set while List1 handles a key, so that moving through it with the keyboard loads as a click does.
    bool m_keyInNames = false;
    // The box a mouse button has just entered: only a left click that enters it starts a new entry.
    int m_enteredByMouse = -1;
};

} // namespace qrb
