#include "SettingsScreen.h"

#include "screens/common/Dialogs.h"
#include "screens/common/Notices.h"
#include "screens/common/ProgramState.h"
#include "db/Capacities.h"
#include "db/Database.h"
#include "shared/Dates.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

constexpr int Weekdays = 7;
// No clinic offers more in one hour; a larger number is a typing slip.
constexpr int MostPlaces = 9999;

QString slotHeading(int slot)
{
    const int hour = FirstSlotHour + slot;
    return twoDigits(hour) + u":00～"_s + twoDigits(hour + 1) + u":00"_s;
}

// The places typed into a cell: digits only (full-width ones too, as typed with the input method on),
// blanks around them ignored.
std::optional<int> placesOf(const QString &text)
{
    const QString digits = text.normalized(QString::NormalizationForm_KC).trimmed();
    if (digits.isEmpty() || digits.size() > 4) {
        return std::nullopt;
    }
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
    }
    const int places = digits.toInt();
    return places <= MostPlaces ? std::optional<int>(places) : std::nullopt;
}

} // namespace

SettingsScreen::SettingsScreen(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"frmSetting"_s);
    setWindowTitle(u"設定"_s);

    auto *heading = new QLabel(u"予約可能人数　設定"_s, this);
    heading->setObjectName(u"Label1"_s);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.4);
    headingFont.setBold(true);
    heading->setFont(headingFont);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    for (int day = 0; day < Weekdays; ++day) {
        auto *label = new QLabel(this);
        label->setObjectName(u"Label3(%1)"_s.arg(day));
        label->setAlignment(Qt::AlignCenter);
        grid->addWidget(label, 0, day + 1);
        m_weekdays << label;
    }
    for (int slot = 0; slot < SlotCount; ++slot) {
        auto *label = new QLabel(this);
        label->setObjectName(u"Label2(%1)"_s.arg(slot));
        grid->addWidget(label, slot + 1, 0);
        m_slots << label;
    }
    // Made in index order, so that Tab runs along a slot from Monday to Sunday, then to the next slot.
    for (int i = 0; i < CellCount; ++i) {
        auto *cell = new QLineEdit(this);
        cell->setObjectName(u"Text1(%1)"_s.arg(i));
        cell->setAlignment(Qt::AlignRight);
        cell->setFixedWidth(80);
        grid->addWidget(cell, i / Weekdays + 1, i % Weekdays + 1);
        if (!m_cells.isEmpty()) {
            setTabOrder(m_cells.last(), cell);
        }
        m_cells << cell;
    }

    m_save = new QPushButton(u"登録・修正"_s, this);
    m_save->setObjectName(u"Command1"_s);
    setTabOrder(m_cells.last(), m_save);
    connect(m_save, &QPushButton::clicked, this, &SettingsScreen::grid_save);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_save);

    auto *column = new QVBoxLayout;
    column->addWidget(heading);
    column->addSpacing(16);
    column->addLayout(grid);
    column->addSpacing(16);
    column->addLayout(buttonRow);

    // The grid keeps its size in a maximised window; the room left over stays empty on the right and below.
    auto *outer = new QHBoxLayout;
    outer->addLayout(column);
    outer->addStretch(1);
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(24, 16, 24, 16);
    page->addLayout(outer);
    page->addStretch(1);

    // The zeros shown until a load succeeds are no capacities: saving them would close every slot.
    m_save->setEnabled(false);
    grid_init();
    grid_load();
}

SettingsScreen::~SettingsScreen() = default;

int SettingsScreen::weekdayOfCell(int index)
{
    return index % Weekdays + 1;
}

QString SettingsScreen::slotOfCell(int index)
{
    return slotKey(index / Weekdays);
}

void SettingsScreen::grid_init()
{
    for (QLineEdit *cell : std::as_const(m_cells)) {
        cell->setText(u"0"_s);
    }
    for (int slot = 0; slot < SlotCount; ++slot) {
        m_slots[slot]->setText(slotHeading(slot));
    }
    for (int day = 0; day < Weekdays; ++day) {
        m_weekdays[day]->setText(weekdayName(day + 1));
    }
}

bool SettingsScreen::grid_load()
{
    CapacityTable table;
    try {
        table = loadCapacities(m_state.db);
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"予約可能人数を読み込めませんでした。\r\n"_s + error.message());
        return false;
    }
    for (int i = 0; i < CellCount; ++i) {
        m_cells[i]->setText(QString::number(table.get_value(weekdayOfCell(i), slotOfCell(i))));
    }
    m_save->setEnabled(true);
    return true;
}

bool SettingsScreen::grid_save()
{
    CapacityTable table;
    for (int i = 0; i < CellCount; ++i) {
        const std::optional<int> places = placesOf(m_cells[i]->text());
        if (!places) {
            m_state.dialogs.tell(u"%1曜日 %2 の人数が正しくありません。\r\n"
                                 u"0 から %3 までの数字を入力してください。\r\n登録していません。"_s
                                     .arg(weekdayName(weekdayOfCell(i)), slotHeading(i / Weekdays))
                                     .arg(MostPlaces));
            m_cells[i]->setFocus();
            m_cells[i]->selectAll();
            return false;
        }
        table.set_value(weekdayOfCell(i), slotOfCell(i), *places);
    }
    try {
        saveCapacities(m_state.db, table);
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"予約可能人数を登録できませんでした。何も変更していません。\r\n"_s + error.message());
        return false;
    }
    m_state.notices.post(capacitiesSavedNotice());
    return true;
}

} // namespace qrb
