#pragma once

#include "EntryRules.h"

#include <QWidget>

#include <array>
#include <optional>

class QComboBox;
class QDate;
class QLabel;
class QPushButton;

namespace qrb {

struct ProgramState;
struct Reservation;
struct BookingRecord;
struct StoredBooking;
class DatePickers;
class DbError;
class MonthGrid;
class PatientForm;

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
    void List1_Click(const QString &name);
    // Fills the form from a reservation: mode 1 the name `key` in the slot of the row last checked,
    // mode 2 the newest reservation of the patient number `key`.
    void yoyaku_set(int mode, const QString &key);

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
    // Stores one dose; a full slot asks the over-booking question (titled as given) first.
    // The stored booking, or nothing when the receptionist declined to over-book.
    std::optional<StoredBooking> storeAskingWhenFull(const BookingRecord &booking, const QString &questionTitle);
    // A double-click on the month grid: that day (and the cell's hour, unless -1) into row 1, then its 確認.
    void gridDayChosen(const QDate &date, int slot);
    void cancelBooking();
    // The loaded reservation is the one the form shows in this slot under this name.
    bool loadedShownIn(const Slot &slot, const QString &name) const;
    // Why a write on the loaded reservation was refused.
    static QString loadedChangedElsewhere();
    // The month grid, the names and the slot line of row 1 read again; `whatWasDone` leads a failure.
    void refreshLists(const QString &whatWasDone);
    void refreshAfterWriting(const QString &whatWasDone);
    void setButtonStates();
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
    void tellFailure(const QString &whatFailed, const DbError &error);

    ProgramState &m_state;

    PatientForm *m_patient = nullptr;
    std::array<QComboBox *, 4> m_combo1{}; // year, month, day, hour; Combo1(4) is the patient form's
    std::array<QComboBox *, 4> m_combo2{};
    DatePickers *m_row1 = nullptr;
    DatePickers *m_row2 = nullptr;

    QLabel *m_slotLine1 = nullptr; // Label3(0)
    QLabel *m_slotLine2 = nullptr; // Label4(0)
    // Beside each slot line: "休診日（…）" on a closed day.
    std::array<QLabel *, 2> m_closedNote{};
    std::array<QPushButton *, 2> m_command1{};
    std::array<QPushButton *, 2> m_command2{};
    QList<QWidget *> m_rowTwo;    // shown and hidden together
    MonthGrid *m_lists = nullptr; // List1 and ListView1

    int m_kakuninRow = 0; // the row whose slot List1 shows

    // The reservation loaded from List1. It counts only while the form still shows it: its name in 氏名
    // and its day and hour in the row it was loaded from. 予約取消 then deletes it and registering
    // overwrites it, each only if the row is still in the database as loaded; registering it again
    // without another 種別 keeps the codes a 新型 pair record was stored with.
    struct Loaded {
        int yno = 0;
        int row = 0;   // 0 or 1: the row whose list it came from
        int type = -1; // the 種別 option the load selected
        DoseCodes codes;
        QString knm;
        QString ydate;
        QString ytime;
    };
    std::optional<Loaded> m_loaded;
};

} // namespace qrb
