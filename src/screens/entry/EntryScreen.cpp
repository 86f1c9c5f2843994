#include "EntryScreen.h"

#include "DatePickers.h"
#include "KanaCaptureEdit.h"

#include "config/Clock.h"
#include "db/Booking.h"
#include "db/Database.h"
#include "screens/common/ClosedDayLook.h"
#include "screens/common/Dialogs.h"
#include "screens/common/Named.h"
#include "screens/common/ProgramState.h"
#include "screens/common/Notices.h"
#include "shared/Eras.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

const QColor LightGreen(0xC0, 0xFF, 0xC0);
constexpr int GridColumns = 2 + SlotCount;
// The month grid's marks for a slot at its capacity and one over it.
const QColor FullColour(0xFF, 0xD8, 0x80);
const QColor OverColour(0xFF, 0xA0, 0xA0);

QString overbookingQuestion()
{
    return u"予約可能人数を超えました。\r\nＯＫを押すと強制入力します。"_s;
}

QLabel *makeRequiredLabel(const QString &name, QWidget *parent)
{
    QLabel *label = named<QLabel>(name, u"(必須入力)"_s, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    return label;
}

QComboBox *makeCombo(const QString &name, int width, QWidget *parent)
{
    QComboBox *combo = DatePickers::makeCombo(name, width, parent);
    combo->setMaxVisibleItems(12);
    combo->setFixedWidth(width);
    return combo;
}

template <std::size_t N> int checkedIndex(const std::array<QRadioButton *, N> &buttons)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (buttons[i]->isChecked()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Option buttons of one frame exclude each other; unchecking the checked one needs that rule lifted.
template <std::size_t N> void selectOption(const std::array<QRadioButton *, N> &buttons, int index)
{
    for (std::size_t i = 0; i < N; ++i) {
        QRadioButton *button = buttons[i];
        if (static_cast<int>(i) == index) {
            button->setChecked(true);
        } else if (button->isChecked()) {
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
        }
    }
}

// A focus change that only comes from another window being activated (a message box, another program)
// or from a context menu is no entering or leaving of a box.
bool isFocusMove(const QEvent *event)
{
    const Qt::FocusReason reason = static_cast<const QFocusEvent *>(event)->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
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

    m_name = new KanaCaptureEdit(this);
    for (int i = 0; i < 9; ++i) {
        if (i == 6 || i == 7) {
            continue;
        }
        QLineEdit *edit = i == 0 ? m_name : new QLineEdit(this);
        edit->setObjectName(u"Text1(%1)"_s.arg(i));
        edit->installEventFilter(this);
        m_lineEdits[i] = edit;
    }
    m_remarks = new QPlainTextEdit(this);
    m_remarks->setObjectName(u"Text1(6)"_s);
    m_remarks->setTabChangesFocus(true);
    m_remarks->setFixedHeight(80);
    // Qt offers no hint for hiragana or katakana input; the boxes that take digits ask for them.
    for (int i : {2, 3, 4, 5, 8}) {
        m_lineEdits[i]->setInputMethodHints(Qt::ImhPreferNumbers | Qt::ImhPreferLatin);
    }

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

    // The patient line: number, name and kana, then the birth date with the age and the telephones.
    auto *patient = new QGridLayout;
    patient->setHorizontalSpacing(6);
    patient->addWidget(new QLabel(u"患者番号"_s, this), 0, 0);
    patient->addWidget(m_lineEdits[8], 0, 1);
    auto *nameCaption = new QHBoxLayout;
    nameCaption->addWidget(new QLabel(u"氏名"_s, this));
    nameCaption->addWidget(makeRequiredLabel(QString(), this));
    patient->addLayout(nameCaption, 0, 2);
    patient->addWidget(m_name, 0, 3);
    patient->addWidget(new QLabel(u"カナ氏名"_s, this), 0, 4);
    patient->addWidget(m_lineEdits[1], 0, 5);

    patient->addWidget(new QLabel(u"生年月日 "_s, this), 1, 0);
    auto *birth = new QHBoxLayout;
    m_combo1[4] = makeCombo(u"Combo1(4)"_s, 72, this);
    birth->addWidget(m_combo1[4]);
    m_lineEdits[2]->setFixedWidth(132);
    birth->addWidget(m_lineEdits[2]);
    birth->addSpacing(8);
    birth->addWidget(named<QLabel>(u"Label2(4)"_s, u"年齢"_s, this));
    birth->addSpacing(6);
    m_age = named<QLabel>(u"Label6"_s, QString(), this);
    m_age->setMinimumWidth(40);
    birth->addWidget(m_age);
    m_ageValue = named<QLabel>(u"Label3(1)"_s, QString(), this);
    birth->addWidget(m_ageValue);
    birth->addStretch(1);
    patient->addLayout(birth, 1, 1);
    patient->addWidget(new QLabel(u"電話番号１"_s, this), 1, 2);
    patient->addWidget(m_lineEdits[3], 1, 3);
    patient->addWidget(new QLabel(u"電話番号２"_s, this), 1, 4);
    patient->addWidget(m_lineEdits[4], 1, 5);
    patient->addWidget(named<QLabel>(u"Label2(5)"_s, u"入力例）　西暦：20020101 和暦：190101"_s, this), 2, 1, 1, 3);
    m_lineEdits[8]->setMinimumWidth(100);
    patient->setColumnStretch(1, 1);
    patient->setColumnStretch(3, 2);
    patient->setColumnStretch(5, 2);
    root->addLayout(patient);

    // The frames and the remarks.
    auto *frames = new QHBoxLayout;
    auto *visitFrame = new QGroupBox(u"来院歴"_s, this);
    visitFrame->setObjectName(u"Frame1(0)"_s);
    auto *visitLayout = new QVBoxLayout(visitFrame);
    const QStringList visitTexts = {u"来院歴あり"_s, u"来院歴なし"_s};
    for (int i = 0; i < 2; ++i) {
        m_visited[i] = new QRadioButton(visitTexts.at(i), visitFrame);
        m_visited[i]->setObjectName(u"Option1(%1)"_s.arg(i));
        visitLayout->addWidget(m_visited[i]);
    }
    visitLayout->addStretch(1);
    frames->addWidget(visitFrame);

    m_memberFrame = new QGroupBox(u"組合員"_s, this);
    m_memberFrame->setObjectName(u"Frame1(1)"_s);
    auto *memberLayout = new QVBoxLayout(m_memberFrame);
    const QStringList memberTexts = {u"組合員です"_s, u"組合員ではありません"_s};
    for (int i = 0; i < 2; ++i) {
        m_member[i] = new QRadioButton(memberTexts.at(i), m_memberFrame);
        m_member[i]->setObjectName(u"Option2(%1)"_s.arg(i));
    }
    m_lineEdits[5]->setParent(m_memberFrame);
    m_lineEdits[5]->setFixedWidth(140);
    memberLayout->addWidget(m_member[0]);
    memberLayout->addWidget(m_lineEdits[5]);
    memberLayout->addWidget(m_member[1]);
    memberLayout->addStretch(1);
    frames->addWidget(m_memberFrame);

    auto *typeFrame = new QGroupBox(u"種別"_s, this);
    typeFrame->setObjectName(u"Frame2"_s);
    auto *typeLayout = new QVBoxLayout(typeFrame);
    const QStringList typeTexts = {u"季節性"_s, u"新型"_s, u"新型　１回目"_s, u"新型  ２回目"_s};
    for (int i = 0; i < 4; ++i) {
        m_type[i] = new QRadioButton(typeTexts.at(i), typeFrame);
        m_type[i]->setObjectName(u"Option3(%1)"_s.arg(i));
        typeLayout->addWidget(m_type[i]);
        connect(m_type[i], &QRadioButton::clicked, this, [this, i] { Option3_Click(i); });
    }
    frames->addWidget(typeFrame);

    auto *remarksLayout = new QVBoxLayout;
    remarksLayout->addWidget(named<QLabel>(u"Label1(6)"_s, u"備考"_s, this));
    remarksLayout->addWidget(m_remarks);
    remarksLayout->addStretch(1);
    frames->addLayout(remarksLayout, 1);
    root->addLayout(frames);

    // The two date rows.
    auto *rows = new QGridLayout;
    rows->setHorizontalSpacing(4);
    auto *dateCaption = new QHBoxLayout;
    dateCaption->addWidget(named<QLabel>(u"Label1(1)"_s, u"予約日"_s, this));
    dateCaption->addWidget(makeRequiredLabel(u"Label1(15)"_s, this));
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

    auto *lists = new QHBoxLayout;
    m_names = new QListWidget(this);
    m_names->setObjectName(u"List1"_s);
    m_names->setMinimumWidth(160);
    connect(m_names, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) { List1_Click(item->text()); });
    connect(m_names, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *current) {
        if (std::exchange(m_keyInNames, false) && current != nullptr) {
            List1_Click(current->text());
        }
    });
    m_names->installEventFilter(this);
    lists->addWidget(m_names, 1);
    m_grid = new QTreeWidget(this);
    m_grid->setObjectName(u"ListView1"_s);
    m_grid->setRootIsDecorated(false);
    m_grid->setUniformRowHeights(true);
    m_grid->setAllColumnsShowFocus(true);
    m_grid->setColumnCount(GridColumns);
    m_grid->header()->setStretchLastSection(false);
    m_grid->header()->setSectionsMovable(false);
    QStringList headers = {u"日付"_s};
    for (int slot = 0; slot < SlotCount; ++slot) {
        headers << slotKey(slot) + u":00～"_s;
    }
    headers << u"日付"_s;
    m_grid->setHeaderLabels(headers);
    for (int column = 1; column <= SlotCount; ++column) {
        m_grid->headerItem()->setTextAlignment(column, Qt::AlignCenter);
    }
    m_grid->setColumnHidden(GridColumns - 1, true);
    m_grid->viewport()->installEventFilter(this);
    connect(m_grid, &QTreeWidget::itemDoubleClicked, this, &EntryScreen::gridDoubleClicked);
    auto *gridColumn = new QVBoxLayout;
    gridColumn->addWidget(m_grid, 1);
    auto *legend = new QHBoxLayout;
    for (const auto &[colour, meaning] : {std::pair{FullColour, u"満席"_s}, std::pair{OverColour, u"定員超過"_s}}) {
        auto *swatch = new QLabel(this);
        swatch->setFixedSize(28, 14);
        swatch->setStyleSheet(u"background-color: %1; border: 1px solid gray;"_s.arg(colour.name()));
        legend->addWidget(swatch);
        legend->addWidget(new QLabel(meaning, this));
        legend->addSpacing(12);
    }
    legend->addWidget(new QLabel(u"（ダブルクリックでその日時を確認）"_s, this));
    legend->addStretch(1);
    gridColumn->addLayout(legend);
    lists->addLayout(gridColumn, 5);
    root->addLayout(lists, 1);
    scroll->setWidget(form);

    QWidget *order[] = {m_lineEdits[8], m_name,        m_lineEdits[1], m_combo1[4],   m_lineEdits[2], m_lineEdits[3],
                        m_lineEdits[4], m_remarks,     m_combo1[0],    m_combo1[1],   m_combo1[2],    m_combo1[3],
                        m_command2[0],  m_combo2[0],   m_combo2[1],    m_combo2[2],   m_combo2[3],    m_command2[1],
                        m_command1[0],  m_command1[1], m_names,        m_lineEdits[5]};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
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
    m_memberFrame->setVisible(true);
    m_member[0]->setVisible(true);
    m_member[1]->setVisible(true);
    m_lineEdits[5]->setVisible(true);
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
    m_combo1[4]->addItems(eraPickerTexts());
    m_combo1[4]->setCurrentText(eraPickerTexts().constFirst());
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
    for (int i = 0; i < 9; ++i) {
        setText(i, QString());
    }
    m_ageValue->clear();
    m_age->clear();
    selectOption(m_visited, -1);
    selectOption(m_member, -1);
    selectOption(m_type, -1);
    m_command1[0]->setEnabled(false);
    m_command1[1]->setEnabled(false);
    setRowTwoVisible(false);
    m_kakuninRow = 0;
    m_loaded.reset();
}

void EntryScreen::ListView1_set()
{
    fillGrid(*m_row1);
}

void EntryScreen::ListView1_set2()
{
    fillGrid(*m_row2);
}

void EntryScreen::List1_set()
{
    fillNames(*m_row1);
}

void EntryScreen::List1_set2()
{
    fillNames(*m_row2);
}

void EntryScreen::fillGrid(const DatePickers &row)
{
    const auto days = monthGrid(m_state.db, row.year(), row.month(), row.day());
    m_grid->clear();
    applyGridWidths();
    if (!days) {
        return;
    }
    QList<QTreeWidgetItem *> items;
    // The grid lists the chosen day and the days after it, one row each.
    QDate date = row.date().value_or(QDate());
    for (const GridDay &day : *days) {
        auto *item = new QTreeWidgetItem;
        item->setText(0, day.label);
        item->setData(0, Qt::UserRole, day.date);
        for (int slot = 0; slot < SlotCount; ++slot) {
            item->setText(1 + slot, QString::number(day.counts[slot]));
            item->setTextAlignment(1 + slot, Qt::AlignCenter);
            const SlotFill fill = slotFill(day.counts[slot], day.places[slot]);
            if (fill != SlotFill::Open) {
                item->setBackground(1 + slot, fill == SlotFill::Full ? FullColour : OverColour);
                item->setForeground(1 + slot, QColor(Qt::black));
            }
        }
        item->setText(GridColumns - 1, day.label);
        if (const auto reason = m_state.config.CLOSED.closedReason(date)) {
            item->setForeground(0, ClosedDayText);
            item->setBackground(0, ClosedDayGround);
            for (int column = 0; column < GridColumns; ++column) {
                item->setToolTip(column, *reason);
            }
        }
        date = date.addDays(1);
        items << item;
    }
    m_grid->addTopLevelItems(items);
}

void EntryScreen::showClosedNote(int row)
{
    const DatePickers &pickers = row == 0 ? *m_row1 : *m_row2;
    const auto date = pickers.date();
    const auto reason = date ? m_state.config.CLOSED.closedReason(*date) : std::nullopt;
    m_closedNote[row]->setText(reason ? closedDayNote(*reason) : QString());
}

void EntryScreen::gridDoubleClicked(const QTreeWidgetItem *item, int column)
{
    const QDate date = item->data(0, Qt::UserRole).toDate();
    if (!date.isValid()) {
        return;
    }
    m_row1->setDate(date);
    m_row1->Combo_2_set2();
    if (column >= 1 && column <= SlotCount) {
        m_combo1[3]->setCurrentText(slotKey(column - 1));
    }
    Command2_Click(0);
}

void EntryScreen::applyGridWidths()
{
    const double width = m_grid->viewport()->width();
    m_grid->setColumnWidth(0, static_cast<int>(width * 8.5 / 100));
    for (int column = 1; column <= SlotCount; ++column) {
        m_grid->setColumnWidth(column, static_cast<int>(width * 8.7 / 100));
    }
}

void EntryScreen::fillNames(const DatePickers &row)
{
    const QStringList names = namesInSlot(m_state.db, row.dateKey(), row.hour());
    m_names->clear();
    m_names->addItems(names);
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

QString EntryScreen::text(int index) const
{
    if (index == 6) {
        return m_remarks->toPlainText();
    }
    return m_lineEdits[index] != nullptr ? m_lineEdits[index]->text() : QString();
}

void EntryScreen::setText(int index, const QString &value)
{
    if (index == 6) {
        m_remarks->setPlainText(value);
    } else if (m_lineEdits[index] != nullptr) {
        m_lineEdits[index]->setText(value);
    }
}

BookingRecord EntryScreen::bookingOf(const Slot &slot, DoseCodes codes) const
{
    BookingRecord r;
    r.kno = text(8);
    r.knm = text(0);
    r.kknm = text(1);
    r.ydate = slot.dateKey;
    r.ytime = slot.hour;
    r.bflg = eraCode(m_combo1[4]->currentText());
    r.birthday = text(2);
    r.tel1 = text(3);
    r.tel2 = text(4);
    r.rflg = checkedIndex(m_visited) + 1;
    r.kflg = checkedIndex(m_member) + 1;
    r.biko = text(6);
    r.sflg = codes.sflg;
    r.scnt = codes.scnt;
    r.kmno = text(5);
    return r;
}

void EntryScreen::Command1_Click(int index)
{
    if ((index != 0 && index != 1) || text(0).isEmpty()) {
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
    const bool pair = m_type[1]->isChecked();
    std::optional<Slot> second;
    if (pair) {
        second = checkedSlot(1);
        if (!second || !secondDoseAfterFirst(*first, *second)) {
            return;
        }
    }
    // A loaded 新型 pair record registered again (a telephone number put right) stays what it was.
    const int type = checkedIndex(m_type);
    const DoseCodes codes = m_loaded && m_loaded->type == type ? m_loaded->codes : doseCodesOfType(type);

    // Each dose is its own transaction: a receptionist who declines an over-booked second slot keeps
    // the first dose and can choose another slot for the second.
    const QString name = text(0);
    QList<BookedSlot> booked;
    bool updated = false;
    try {
        const auto stored = storeAskingWhenFull(bookingOf(*first, codes), QString());
        if (!stored) {
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
            const auto stored = storeAskingWhenFull(bookingOf(*second, SecondDoseCodes), u"2回目の摂取"_s);
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
    refreshAfterWriting(*first, u"予約は登録しました。"_s);
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
    const auto slot = checkedSlot(0);
    if (!slot) {
        return;
    }
    const QString name = text(0);
    bool deleted = false;
    try {
        // The reservation loaded from List1 is the one meant, whichever row's list it came from.
        deleted = m_loaded ? cancelReservationNumbered(m_state.db, m_loaded->yno)
                           : cancelReservation(m_state.db, slot->dateKey, slot->hour, name);
        if (deleted) {
            m_state.notices.post(m_loaded ? cancelledNotice(name, m_loaded->ydate, m_loaded->ytime)
                                          : cancelledNotice(name, slot->dateKey, slot->hour));
        }
    } catch (const DbError &error) {
        tellFailure(u"予約を取り消せませんでした。"_s, error);
        return;
    }
    if (!deleted) {
        m_state.dialogs.tell(u"取り消す予約が見つかりませんでした。\r\n他の端末ですでに取り消されています。"_s);
    }
    refreshAfterWriting(*slot, u"予約は取り消しました。"_s);
}

void EntryScreen::refreshAfterWriting(const Slot &slot, const QString &whatWasDone)
{
    input_clear();
    // The slot line is read again rather than worked out, so that an overwritten booking or another
    // workstation's booking is counted as it stands.
    try {
        ListView1_set();
        List1_set();
        m_slotLine1->setText(slotLineOf(slot));
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
    if (m_names->count() == 0) {
        m_command1[1]->setEnabled(false);
    }
    if (!text(0).isEmpty()) {
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

void EntryScreen::Text1_GotFocus(int index)
{
    if (index != 0) {
        return;
    }
    m_name->selectAll();
    m_name->startCapture();
}

void EntryScreen::Text1_LostFocus(int index)
{
    if (index == 0) {
        setText(1, text(1) + m_name->takeCapturedReadings());
    } else if (index == 2) {
        const auto rewritten = rewriteBirthDate(text(2));
        if (!rewritten) {
            return;
        }
        setText(2, rewritten->text);
        const auto age =
            get_age(rewritten->ageMode, m_combo1[4]->currentText(), rewritten->text, m_state.clock.today());
        m_age->setText(age ? QString::number(*age) + u"才"_s : QString());
    } else if (index == 8) {
        yoyaku_set(2, text(8));
    }
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
    if (wholeReservation) {
        setText(8, r.kno);
    }
    setText(0, r.knm);
    setText(1, r.kknm);
    if (const auto era = r.bflg ? eraName(*r.bflg) : std::nullopt) {
        m_combo1[4]->setCurrentText(*era);
    }
    setText(2, r.birthday);
    setText(3, r.tel1);
    setText(4, r.tel2);
    if (!wholeReservation) {
        selectOption(m_visited, 0);
        m_command1[0]->setEnabled(true);
        m_command1[1]->setEnabled(false);
        return;
    }
    const auto flagOption = [](std::optional<int> flag) { return flag == 1 ? 0 : flag == 2 ? 1 : -1; };
    selectOption(m_visited, flagOption(r.rflg));
    selectOption(m_member, flagOption(r.kflg));
    // Selecting the stored type is no choice of the user's: row 2 stays as it is.
    const auto type = typeOfCodes(r.sflg, r.scnt);
    if (type) {
        selectOption(m_type, *type);
    }
    // Only a pair record has codes no option writes back (新型 with its dose); -2 matches no option.
    m_loaded = Loaded{r.yno, r.sflg == 2 ? type.value_or(-2) : -2, DoseCodes{2, r.scnt.value_or(0)}, r.ydate, r.ytime};
    setText(5, r.kmno);
    setText(6, r.biko);
    m_command1[0]->setEnabled(false);
    m_command1[1]->setEnabled(true);
}

bool EntryScreen::eventFilter(QObject *watched, QEvent *event)
{
    if (m_grid != nullptr && watched == m_grid->viewport() && event->type() == QEvent::Resize) {
        applyGridWidths();
    }
    if (watched == m_names) {
        m_keyInNames = event->type() == QEvent::KeyPress;
    }
    for (int index = 0; index < 9; ++index) {
        if (m_lineEdits[index] == nullptr || watched != m_lineEdits[index]) {
            continue;
        }
        if (event->type() == QEvent::FocusOut && isFocusMove(event)) {
            Text1_LostFocus(index);
        } else if (event->type() == QEvent::FocusIn && isFocusMove(event)) {
            Text1_GotFocus(index);
            const bool byMouse = static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason;
            m_enteredByMouse = byMouse ? index : -1;
        } else if (event->type() == QEvent::MouseButtonPress) {
            // The focus comes before the press that gave it; a right click (to paste a name) keeps the form.
            if (std::exchange(m_enteredByMouse, -1) == index
                && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                Text1_Click(index);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qrb
