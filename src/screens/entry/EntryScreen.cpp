#include "EntryScreen.h"

#include "DatePickers.h"
#include "MonthGrid.h"
#include "PatientForm.h"

#include "config/Clock.h"
#include "db/Booking.h"
#include "db/Database.h"
#include "screens/common/ClosedDayLook.h"
#include "screens/common/Dialogs.h"
#include "screens/common/Named.h"
#include "screens/common/Notices.h"
#include "screens/common/ProgramState.h"
#include "shared/Text.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

const QColor LightGreen(0xC0, 0xFF, 0xC0);

QString overbookingQuestion()
{
    return u"予約可能人数を超えました。\r\nＯＫを押すと強制入力します。"_s;
}

QComboBox *makeCombo(const QString &name, int width, QWidget *parent)
{
    QComboBox *combo = DatePickers::makeCombo(name, width, parent);
    combo->setMaxVisibleItems(12);
    combo->setFixedWidth(width);
    return combo;
}

} // namespace

EntryScreen::EntryScreen(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"frmYoyaku"_s);
    setWindowTitle(u"予約管理"_s);
    buildControls();
    Form_Load();
}

EntryScreen::~EntryScreen() = default;

void EntryScreen::buildControls()
{
    setAutoFillBackground(true);
    QPalette green = palette();
    green.setColor(QPalette::Window, LightGreen);
    setPalette(green);

    // A window smaller than the form scrolls it rather than cutting its right side off.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    // The scroll area shows nothing of its own: Tab must not stop on it.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    auto *form = new QWidget(scroll);
    form->setAutoFillBackground(true);
    auto *root = new QVBoxLayout(form);
    root->setContentsMargins(12, 10, 12, 10);
    root->setSpacing(8);

    m_patient = new PatientForm(m_state.clock, this);
    connect(m_patient, &PatientForm::boxClicked, this, &EntryScreen::Text1_Click);
    connect(m_patient, &PatientForm::typeClicked, this, &EntryScreen::Option3_Click);
    connect(m_patient, &PatientForm::numberLeft, this, [this](const QString &number) { yoyaku_set(2, number); });
    root->addWidget(m_patient);

    // The two date rows.
    auto *rows = new QGridLayout;
    rows->setHorizontalSpacing(4);
    auto *dateCaption = new QHBoxLayout;
    dateCaption->addWidget(named<QLabel>(u"Label1(1)"_s, u"予約日"_s, this));
    dateCaption->addWidget(PatientForm::requiredLabel(u"Label1(15)"_s, this));
    rows->addLayout(dateCaption, 0, 0);

    const std::array<int, 4> widths = {72, 52, 52, 52};
    QLabel *marker1 = named<QLabel>(u"Label1(11)"_s, u"1)"_s, this);
    rows->addWidget(marker1, 0, 1);
    const std::array<int, 4> row1Units = {2, 3, 4, 5};
    const std::array<int, 4> row2Units = {10, 9, 8, 7};
    const QStringList unitTexts = {u"年"_s, u"月"_s, u"日"_s, u"時"_s};
    auto *weekday1 = named<QLabel>(u"Label3(2)"_s, QString(), this);
    auto *weekday2 = named<QLabel>(u"Label4(2)"_s, QString(), this);
    QLabel *marker2 = named<QLabel>(u"Label1(12)"_s, u"2)"_s, this);
    rows->addWidget(marker2, 1, 1);
    m_rowTwo << marker1 << marker2;
    for (int i = 0; i < 4; ++i) {
        // The weekday label stands between the day and the hour.
        const int column = 2 + 2 * i + (i == 3 ? 1 : 0);
        m_combo1[i] = makeCombo(u"Combo1(%1)"_s.arg(i), widths[i], this);
        m_combo2[i] = makeCombo(u"Combo2(%1)"_s.arg(i), widths[i], this);
        rows->addWidget(m_combo1[i], 0, column);
        rows->addWidget(named<QLabel>(u"Label1(%1)"_s.arg(row1Units[i]), unitTexts.at(i), this), 0, column + 1);
        rows->addWidget(m_combo2[i], 1, column);
        QLabel *unit2 = named<QLabel>(u"Label1(%1)"_s.arg(row2Units[i]), unitTexts.at(i), this);
        rows->addWidget(unit2, 1, column + 1);
        m_rowTwo << m_combo2[i] << unit2;
    }
    weekday1->setMinimumWidth(36);
    rows->addWidget(weekday1, 0, 8);
    rows->addWidget(weekday2, 1, 8);
    for (int i = 0; i < 2; ++i) {
        m_command2[i] = new QPushButton(u"確認"_s, this);
        m_command2[i]->setObjectName(u"Command2(%1)"_s.arg(i));
        rows->addWidget(m_command2[i], i, 11);
        connect(m_command2[i], &QPushButton::clicked, this, [this, i] { Command2_Click(i); });
    }
    m_slotLine1 = named<QLabel>(u"Label3(0)"_s, QString(), this);
    m_slotLine2 = named<QLabel>(u"Label4(0)"_s, QString(), this);
    rows->addWidget(m_slotLine1, 0, 12);
    rows->addWidget(m_slotLine2, 1, 12);
    QLabel *rowTwoExtra = named<QLabel>(u"Label4(1)"_s, QString(), this);
    rows->addWidget(rowTwoExtra, 1, 13);
    for (int i = 0; i < 2; ++i) {
        m_closedNote[i] = named<QLabel>(u"ClosedNote%1"_s.arg(i + 1), QString(), this);
        QPalette red = m_closedNote[i]->palette();
        red.setColor(QPalette::WindowText, ClosedDayText);
        m_closedNote[i]->setPalette(red);
        rows->addWidget(m_closedNote[i], i, 14);
    }
    rows->setColumnStretch(15, 1);
    m_rowTwo << weekday2 << m_command2[1] << m_slotLine2 << rowTwoExtra << m_closedNote[1];
    // Showing and hiding row 2 must not shift row 1 or the lists below.
    for (QWidget *widget : std::as_const(m_rowTwo)) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }
    root->addLayout(rows);

    m_row1 = new DatePickers(m_state.clock, m_combo1[0], m_combo1[1], m_combo1[2], m_combo1[3], weekday1, this);
    m_row2 = new DatePickers(m_state.clock, m_combo2[0], m_combo2[1], m_combo2[2], m_combo2[3], weekday2, this);
    // The note follows the date texts as they stand, so that a closed day shows before "確認".
    for (int i = 0; i < 3; ++i) {
        connect(m_combo1[i], &QComboBox::currentTextChanged, this, [this] { showClosedNote(0); });
        connect(m_combo2[i], &QComboBox::currentTextChanged, this, [this] { showClosedNote(1); });
    }

    auto *buttons = new QHBoxLayout;
    const QStringList commandTexts = {u"予約登録"_s, u"予約取消"_s};
    for (int i = 0; i < 2; ++i) {
        m_command1[i] = new QPushButton(commandTexts.at(i), this);
        m_command1[i]->setObjectName(u"Command1(%1)"_s.arg(i));
        m_command1[i]->setMinimumWidth(120);
        buttons->addWidget(m_command1[i]);
        connect(m_command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
    buttons->addStretch(1);
    root->addLayout(buttons);

    m_lists = new MonthGrid(m_state, this);
    connect(m_lists, &MonthGrid::nameChosen, this, &EntryScreen::List1_Click);
    connect(m_lists, &MonthGrid::dayChosen, this, &EntryScreen::gridDayChosen);
    root->addWidget(m_lists, 1);
    scroll->setWidget(form);

    QWidget *order[] = {m_patient->box(8), m_patient->box(0), m_patient->box(1), m_patient->era(), m_patient->box(2),
                        m_patient->box(3), m_patient->box(4), m_patient->box(6), m_combo1[0],      m_combo1[1],
                        m_combo1[2],       m_combo1[3],       m_command2[0],     m_combo2[0],      m_combo2[1],
                        m_combo2[2],       m_combo2[3],       m_command2[1],     m_command1[0],    m_command1[1],
                        m_lists->names(),  m_patient->box(5)};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    // Labels show what patients typed on the web and what setting.ini names as it is: "<b>髙橋</b>" is
    // a name, not markup.
    for (QLabel *label : findChildren<QLabel *>()) {
        label->setTextFormat(Qt::PlainText);
    }
}

void EntryScreen::Form_Load()
{
    // The pickers' lists need no database: they are filled first, so that a screen opened while the
    // database is away is still a whole form once it is back (an empty era picker would store no era).
    Combo1_0_set();
    Combo1_1_set();
    Combo1_2_set();
    Combo1_3_set();
    Combo1_4_set();
    Combo2_0_set();
    Combo2_1_set();
    Combo2_2_set();
    Combo2_3_set();
    try {
        all_clear();
        if (const auto slot = slotFromTexts(m_row1->year(), m_row1->month(), m_row1->day(), m_row1->hour())) {
            m_slotLine1->setText(slotLineOf(*slot));
        }
    } catch (const DbError &error) {
        tellFailure(u"予約状況を読み込めませんでした。"_s, error);
    }
}

void EntryScreen::Combo1_0_set()
{
    m_row1->Combo_0_set();
}

void EntryScreen::Combo1_1_set()
{
    m_row1->Combo_1_set();
}

void EntryScreen::Combo1_2_set()
{
    m_row1->Combo_2_set();
}

void EntryScreen::Combo1_3_set()
{
    m_row1->Combo_3_set();
}

void EntryScreen::Combo1_4_set()
{
    m_patient->fillEras();
}

void EntryScreen::Combo2_0_set()
{
    m_row2->Combo_0_set();
}

void EntryScreen::Combo2_1_set()
{
    m_row2->Combo_1_set();
}

void EntryScreen::Combo2_2_set()
{
    m_row2->Combo_2_set();
}

void EntryScreen::Combo2_3_set()
{
    m_row2->Combo_3_set();
}

void EntryScreen::all_clear()
{
    input_clear();
    m_row1->today_set();
    m_combo1[3]->setCurrentText(clampedSlot(m_state.clock.now().time()));
    m_slotLine1->clear();
    // Read last: a failed read leaves the form reset all the same.
    ListView1_set();
    List1_set();
}

void EntryScreen::input_clear()
{
    m_patient->clear();
    m_command1[0]->setEnabled(false);
    m_command1[1]->setEnabled(false);
    setRowTwoVisible(false);
    m_kakuninRow = 0;
    m_loaded.reset();
}

void EntryScreen::ListView1_set()
{
    m_lists->fillGrid(*m_row1);
}

void EntryScreen::ListView1_set2()
{
    m_lists->fillGrid(*m_row2);
}

void EntryScreen::List1_set()
{
    m_lists->fillNames(*m_row1);
}

void EntryScreen::List1_set2()
{
    m_lists->fillNames(*m_row2);
}

void EntryScreen::showClosedNote(int row)
{
    const DatePickers &pickers = row == 0 ? *m_row1 : *m_row2;
    const auto date = pickers.date();
    m_closedNote[row]->setText(date ? m_state.config.CLOSED.closedNote(*date).value_or(QString()) : QString());
}

void EntryScreen::gridDayChosen(const QDate &date, int slot)
{
    m_row1->setDate(date);
    m_row1->Combo_2_set2();
    if (slot >= 0) {
        m_combo1[3]->setCurrentText(slotKey(slot));
    }
    Command2_Click(0);
}

void EntryScreen::setRowTwoVisible(bool visible)
{
    for (QWidget *widget : std::as_const(m_rowTwo)) {
        widget->setVisible(visible);
    }
}

std::optional<Slot> EntryScreen::checkedSlot(int row)
{
    const DatePickers &pickers = row == 0 ? *m_row1 : *m_row2;
    const auto slot = slotFromTexts(pickers.year(), pickers.month(), pickers.day(), pickers.hour());
    if (!slot) {
        m_state.dialogs.tell(
            row == 0 ? u"日付が正しくありません。\r\n予約日の年・月・日・時を一覧から選び直してください。"_s
                     : u"日付が正しくありません。\r\n2回目の摂取日の年・月・日・時を一覧から選び直してください。"_s);
    }
    return slot;
}

QString EntryScreen::slotLineOf(const Slot &slot)
{
    return slotLine(YOYAKU_cnt(m_state.db, slot.dateKey, slot.hour), placesInSlot(m_state.db, slot.date, slot.hour));
}

void EntryScreen::tellFailure(const QString &whatFailed, const DbError &error)
{
    QString reason = error.message();
    reason.replace(u"\r\n"_s, u"\n"_s).replace(u"\n"_s, u"\r\n"_s);
    m_state.dialogs.tell(whatFailed + u"\r\n"_s + reason);
}

void EntryScreen::Command1_Click(int index)
{
    if ((index != 0 && index != 1) || m_patient->text(0).isEmpty()) {
        return;
    }
    if (index == 0) {
        registerBooking();
    } else {
        cancelBooking();
    }
}

void EntryScreen::registerBooking()
{
    const auto first = checkedSlot(0);
    if (!first) {
        return;
    }
    const bool pair = m_patient->type() == 1;
    std::optional<Slot> second;
    if (pair) {
        second = checkedSlot(1);
        if (!second || !secondDoseAfterFirst(*first, *second)) {
            return;
        }
    }
    const QString name = m_patient->text(0);
    // Written back into its own slot under its own name, the loaded reservation is overwritten only if
    // it is still there unchanged, and a 新型 pair record keeps its codes unless another 種別 was chosen
    // (a telephone number put right). For anyone else the 種別 shown decides.
    const bool writesLoaded = loadedShownIn(*first, name);
    const int type = m_patient->type();
    const DoseCodes codes = writesLoaded && m_loaded->type == type ? m_loaded->codes : doseCodesOfType(type);
    BookingRecord firstDose = m_patient->bookingOf(*first, codes);
    if (writesLoaded) {
        firstDose.loadedYno = m_loaded->yno;
    }

    // Each dose is its own transaction: a receptionist who declines an over-booked second slot keeps
    // the first dose and can choose another slot for the second.
    QList<BookedSlot> booked;
    bool updated = false;
    try {
        const auto stored = storeAskingWhenFull(firstDose, QString());
        if (!stored) {
            return;
        }
        if (stored->loadedGone) {
            // What was typed stays; the lists show the slot as it is now, and a second press stores the
            // form as any booking of this name in this slot.
            m_loaded.reset();
            m_state.dialogs.tell(
                u"予約を登録しませんでした。\r\n"_s + loadedChangedElsewhere() +
                u"\r\n入力内容はそのまま残してあります。もう一度「予約登録」を押すと、この内容で登録します。"_s);
            refreshLists(QString());
            return;
        }
        booked.append({first->dateKey, first->hour, stored->yno});
        updated = !stored->added;
    } catch (const DbError &error) {
        // An answer lost on its way back leaves the booking perhaps stored: that is what the clerk must
        // read first, or the patient is booked twice.
        tellFailure(error.outcomeUnknown()
                        ? u"予約が登録されたかどうか分かりません。予約状況で確かめてから、必要ならもう一度登録してください。"
                          u"入力内容はそのまま残してあります。"_s
                        : u"予約を登録できませんでした。入力内容はそのまま残してあります。"_s,
                    error);
        return;
    }
    if (pair) {
        try {
            const auto stored = storeAskingWhenFull(m_patient->bookingOf(*second, SecondDoseCodes), u"2回目の摂取"_s);
            if (!stored) {
                m_state.notices.post(bookedNotice(name, booked, updated));
                return;
            }
            booked.append({second->dateKey, second->hour, stored->yno});
        } catch (const DbError &error) {
            m_state.notices.post(bookedNotice(name, booked, updated));
            tellFailure(u"1回目の予約は登録しましたが、2回目の予約を登録できませんでした。"
                        u"入力内容はそのまま残してあります。"_s,
                        error);
            return;
        }
    }
    m_state.notices.post(bookedNotice(name, booked, updated));
    refreshAfterWriting(u"予約は登録しました。"_s);
}

std::optional<StoredBooking> EntryScreen::storeAskingWhenFull(const BookingRecord &booking,
                                                              const QString &questionTitle)
{
    // The places are counted inside the write transaction; the question is asked with no transaction
    // open (another desk must not wait on this one's dialog), and the booking is then tried again.
    if (const StoredBooking stored = registerReservation(m_state.db, booking, WhenFull::Refuse); !stored.slotFull) {
        return stored;
    }
    // Booking beyond the places offered: a stray Enter must not do it.
    if (!m_state.dialogs.askDestructive(overbookingQuestion(), questionTitle)) {
        return std::nullopt;
    }
    return registerReservation(m_state.db, booking, WhenFull::Overbook);
}

void EntryScreen::cancelBooking()
{
    // The reservation the form shows: a loaded one in the slot of the row it was loaded from, while that
    // row still stands there and 氏名 still holds its name; otherwise the name in row 1's slot.
    const QString name = m_patient->text(0);
    std::optional<Slot> slot;
    if (m_loaded && m_loaded->row == 1 && m_combo2[0]->isVisibleTo(this)) {
        slot = slotFromTexts(m_row2->year(), m_row2->month(), m_row2->day(), m_row2->hour());
    }
    if (!slot || !loadedShownIn(*slot, name)) {
        slot = checkedSlot(0);
    }
    if (!slot) {
        return;
    }
    const bool loaded = loadedShownIn(*slot, name);
    std::optional<Reservation> deleted;
    try {
        deleted = cancelReservation(m_state.db, slot->dateKey, slot->hour, name,
                                    loaded ? std::optional<int>(m_loaded->yno) : std::nullopt);
    } catch (const DbError &error) {
        tellFailure(u"予約を取り消せませんでした。"_s, error);
        return;
    }
    if (deleted) {
        m_state.notices.post(cancelledNotice(oneLine(deleted->knm), deleted->ydate, deleted->ytime));
        refreshAfterWriting(u"予約は取り消しました。"_s);
        return;
    }
    m_state.dialogs.tell(loaded ? u"予約を取り消しませんでした。\r\n"_s + loadedChangedElsewhere()
                                : u"取り消す予約が見つかりませんでした。\r\n"
                                  u"予約日の日付・時間と氏名を確かめてください。予約は変わっていません。"_s);
    refreshAfterWriting(QString());
}

bool EntryScreen::loadedShownIn(const Slot &slot, const QString &name) const
{
    return m_loaded && m_loaded->knm == name && m_loaded->ydate == slot.dateKey && m_loaded->ytime == slot.hour;
}

QString EntryScreen::loadedChangedElsewhere()
{
    return u"読み込んだ後に、ほかの端末でこの予約が取り消されたか変更されています。"_s;
}

void EntryScreen::refreshAfterWriting(const QString &whatWasDone)
{
    input_clear();
    refreshLists(whatWasDone);
}

void EntryScreen::refreshLists(const QString &whatWasDone)
{
    // The slot line is read again rather than worked out, so that an overwritten booking or another
    // workstation's booking is counted as it stands.
    try {
        ListView1_set();
        List1_set();
        if (const auto slot = slotFromTexts(m_row1->year(), m_row1->month(), m_row1->day(), m_row1->hour())) {
            m_slotLine1->setText(slotLineOf(*slot));
        }
    } catch (const DbError &error) {
        tellFailure(whatWasDone + u"予約状況を読み込めませんでした。"_s, error);
    }
}

void EntryScreen::Command2_Click(int index)
{
    if (index != 0 && index != 1) {
        return;
    }
    const auto slot = checkedSlot(index);
    if (!slot) {
        return;
    }
    m_kakuninRow = index;
    try {
        if (index == 0) {
            ListView1_set();
            List1_set();
            m_slotLine1->setText(slotLineOf(*slot));
        } else {
            ListView1_set2();
            List1_set2();
            m_slotLine2->setText(slotLineOf(*slot));
        }
    } catch (const DbError &error) {
        tellFailure(u"予約状況を読み込めませんでした。"_s, error);
        return;
    }
    if (index == 1) {
        const auto first = checkedSlot(0);
        if (!first) {
            return;
        }
        if (!secondDoseAfterFirst(*first, *slot)) {
            return;
        }
    }
    setButtonStates();
}

bool EntryScreen::secondDoseAfterFirst(const Slot &first, const Slot &second)
{
    if (first.date < second.date) {
        return true;
    }
    m_state.dialogs.tell(u"2回目の摂取日は1回目の摂取日より未来の日付を入力してください。"_s);
    m_combo2[1]->setFocus(Qt::OtherFocusReason);
    return false;
}

void EntryScreen::setButtonStates()
{
    if (m_lists->names()->count() == 0) {
        m_command1[1]->setEnabled(false);
    }
    if (!m_patient->text(0).isEmpty()) {
        m_command1[0]->setEnabled(true);
        m_command1[1]->setEnabled(false);
    }
}

void EntryScreen::Option3_Click(int index)
{
    if (m_loaded && m_loaded->type != index) {
        m_loaded->type = -2; // another 種別 chosen: its own codes are written
    }
    if (index != 1) {
        setRowTwoVisible(false);
        return;
    }
    setRowTwoVisible(true);
    const auto first = m_row1->date();
    if (!first) {
        checkedSlot(0);
        return;
    }
    m_row2->setDate(proposedSecondDose(*first));
    m_row2->Combo_2_set2();
    m_combo2[3]->setCurrentText(m_row1->hour());
    if (const auto second = slotFromTexts(m_row2->year(), m_row2->month(), m_row2->day(), m_row2->hour())) {
        try {
            m_slotLine2->setText(slotLineOf(*second));
        } catch (const DbError &error) {
            tellFailure(u"2回目の予約状況を読み込めませんでした。"_s, error);
        }
    }
}

void EntryScreen::Text1_Click(int index)
{
    if (index != 0 && index != 8) {
        return;
    }
    input_clear();
    m_command1[0]->setEnabled(true);
    m_command1[1]->setEnabled(false);
}

void EntryScreen::List1_Click(const QString &name)
{
    yoyaku_set(1, name);
}

void EntryScreen::yoyaku_set(int mode, const QString &key)
{
    try {
        if (mode == 1) {
            const DatePickers &row = m_kakuninRow == 0 ? *m_row1 : *m_row2;
            if (const auto r = reservationInSlot(m_state.db, row.dateKey(), row.hour(), key)) {
                fillFromReservation(*r, true);
            }
        } else if (mode == 2 && !key.isEmpty()) {
            // An empty number would find whichever reservation was stored last without one.
            if (const auto r = latestReservationOfPatient(m_state.db, key)) {
                fillFromReservation(*r, false);
            }
        }
    } catch (const DbError &error) {
        tellFailure(u"予約を読み込めませんでした。"_s, error);
    }
}

void EntryScreen::fillFromReservation(const Reservation &r, bool wholeReservation)
{
    m_loaded.reset();
    m_patient->fill(r, wholeReservation);
    if (!wholeReservation) {
        m_command1[0]->setEnabled(true);
        m_command1[1]->setEnabled(false);
        return;
    }
    // Only a pair record has codes no option writes back (新型 with its dose); -2 matches no option.
    const auto type = typeOfCodes(r.sflg, r.scnt);
    m_loaded = Loaded{r.yno,
                      m_kakuninRow,
                      r.sflg == 2 ? type.value_or(-2) : -2,
                      DoseCodes{2, r.scnt.value_or(0)},
                      m_patient->text(0),
                      r.ydate,
                      r.ytime};
    m_command1[0]->setEnabled(false);
    m_command1[1]->setEnabled(true);
}

} // namespace qrb
