#include "StatusScreen.h"

#include "MonthView.h"
#include "StatusTexts.h"
#include "config/Clock.h"
#include "screens/common/Dialogs.h"
#include "screens/common/ProgramState.h"
#include "db/Database.h"
#include "db/DayStatus.h"
#include "screens/common/AutoRefresh.h"
#include "screens/common/Named.h"
#include "shared/Dates.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// The list always shows at least this many numbered rows, and more when an hour holds more names.
constexpr int ListedRows = 30;

QString slotHeading(int slot)
{
    const int hour = FirstSlotHour + slot;
    return twoDigits(hour) + u":00～"_s + twoDigits(hour + 1) + u":00"_s;
}

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

} // namespace

StatusScreen::StatusScreen(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"frmKakunin"_s);
    setWindowTitle(u"予約状況"_s);

    m_calendar = new MonthView(this);
    m_calendar->markClosedDays(m_state.config.CLOSED);
    connect(m_calendar, &MonthView::dateClicked, this, &StatusScreen::MonthView1_DateClick);

    m_selected = new QLabel(this);
    m_selected->setObjectName(u"Label1"_s);
    QFont large = m_selected->font();
    large.setPointSizeF(large.pointSizeF() * 1.3);
    large.setBold(true);
    m_selected->setFont(large);
    m_statistics = new QLabel(this);
    m_statistics->setObjectName(u"Label2"_s);
    m_statistics->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *visitorFrame = new QGroupBox(u"来院者　表示"_s, this);
    visitorFrame->setObjectName(u"Frame2"_s);
    m_showVisited = named<QRadioButton>(u"Option2(0)"_s, u"表示"_s, visitorFrame);
    m_hideVisited = named<QRadioButton>(u"Option2(1)"_s, u"非表示"_s, visitorFrame);
    auto *visitorRow = new QHBoxLayout(visitorFrame);
    visitorRow->addWidget(m_showVisited);
    visitorRow->addWidget(m_hideVisited);
    connect(m_showVisited, &QRadioButton::clicked, this, &StatusScreen::refreshList);
    connect(m_hideVisited, &QRadioButton::clicked, this, &StatusScreen::refreshList);

    m_autoRefresh = new AutoRefresh(u"Command1"_s, this);
    connect(m_autoRefresh->button(), &QPushButton::clicked, this, &StatusScreen::Command1_Click);
    connect(m_autoRefresh->timer(), &QTimer::timeout, this, &StatusScreen::Timer1_Timer);

    m_list = new QTableWidget(this);
    m_list->setObjectName(u"ListView1"_s);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the list, as it leaves every other control, instead of walking its 300 cells.
    m_list->setTabKeyNavigation(false);
    m_list->verticalHeader()->setVisible(false);
    m_list->setColumnCount(SlotCount + 1);
    QStringList headings{QString()};
    for (int slot = 0; slot < SlotCount; ++slot) {
        headings << slotHeading(slot);
    }
    m_list->setHorizontalHeaderLabels(headings);
    // The number column stays narrow; the ten hours share the rest of the width equally.
    m_list->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    m_list->setColumnWidth(0, 40);
    for (int slot = 1; slot <= SlotCount; ++slot) {
        m_list->horizontalHeader()->setSectionResizeMode(slot, QHeaderView::Stretch);
    }

    // The options in one row under the three months, and the day's heading and counts below them,
    // across the whole width: beside the months they would push the screen past 1024 pixels.
    auto *options = new QHBoxLayout;
    options->addWidget(visitorFrame);
    options->addWidget(m_autoRefresh->frame());
    options->addWidget(m_autoRefresh->button(), 0, Qt::AlignBottom);
    options->addStretch(1);

    auto *top = new QVBoxLayout;
    top->addWidget(m_calendar, 0, Qt::AlignLeft);
    top->addLayout(options);

    auto *day = new QHBoxLayout;
    day->addWidget(m_selected, 0, Qt::AlignTop);
    day->addSpacing(24);
    day->addWidget(m_statistics, 1);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(12, 12, 12, 12);
    page->addLayout(top);
    page->addLayout(day);
    page->addWidget(m_list, 1);

    const QDate today = state.clock.today();
    m_calendar->setSelectedDate(today);
    m_selected->setText(selectedDayText(today));
    option_set();
}

StatusScreen::~StatusScreen() = default;

void StatusScreen::option_set()
{
    m_autoRefresh->setOn(false);
    m_showVisited->setChecked(true);
    refreshDay();
}

void StatusScreen::MonthView1_DateClick(QDate day)
{
    m_calendar->setSelectedDate(day);
    m_selected->setText(selectedDayText(day));
    refreshDay();
}

void StatusScreen::status_set(QDate day)
{
    m_statistics->setText(statusText(dayCounts(m_state.db, day)));
}

void StatusScreen::ListView1_set()
{
    const QList<QStringList> columns =
        namesBySlot(namesOfDay(m_state.db, m_calendar->selectedDate(), m_showVisited->isChecked()));
    qsizetype rows = ListedRows;
    for (const QStringList &names : columns) {
        rows = std::max(rows, names.size());
    }
    m_list->clearContents();
    m_list->setRowCount(static_cast<int>(rows));
    for (int row = 0; row < rows; ++row) {
        m_list->setItem(row, 0, cell(QString::number(row + 1)));
        for (int slot = 0; slot < SlotCount; ++slot) {
            m_list->setItem(row, slot + 1, cell(columns[slot].value(row)));
        }
    }
}

bool StatusScreen::refreshDay()
{
    try {
        status_set(m_calendar->selectedDate());
        ListView1_set();
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"予約状況を読み込めませんでした。\r\n"_s + error.message());
        return false;
    }
    return true;
}

bool StatusScreen::refreshList()
{
    try {
        ListView1_set();
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"予約者の一覧を読み込めませんでした。\r\n"_s + error.message());
        return false;
    }
    return true;
}

void StatusScreen::Timer1_Timer()
{
    m_autoRefresh->tick(m_state.dialogs, u"予約状況を読み込めませんでした。"_s, [this] {
        status_set(m_calendar->selectedDate());
        ListView1_set();
    });
}

void StatusScreen::Command1_Click()
{
    refreshDay();
}

} // namespace qrb
