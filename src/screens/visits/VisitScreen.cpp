#include "VisitScreen.h"

#include "VisitList.h"
#include "VisitTexts.h"
#include "screens/common/Dialogs.h"
#include "screens/common/Notices.h"
#include "screens/common/ProgramState.h"
#include "db/Database.h"
#include "db/Visits.h"
#include "screens/common/AutoRefresh.h"
#include "screens/entry/DatePickers.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

VisitEntry entryOf(const QListWidgetItem *line)
{
    return {line->data(VisitScreen::YnoRole).toInt(), line->data(VisitScreen::TimeRole).toString(),
            line->data(VisitScreen::NameRole).toString()};
}

} // namespace

VisitScreen::VisitScreen(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"frmRaiin"_s);
    setWindowTitle(u"来院記録"_s);

    m_year = DatePickers::makeCombo(u"Combo1(0)"_s, 90, this);
    m_month = DatePickers::makeCombo(u"Combo1(1)"_s, 64, this);
    m_day = DatePickers::makeCombo(u"Combo1(2)"_s, 64, this);
    m_weekday = new QLabel(this);
    m_weekday->setObjectName(u"Label3(2)"_s);
    auto *pickerRow = new QHBoxLayout;
    pickerRow->addWidget(m_year);
    pickerRow->addWidget(new QLabel(u"年"_s, this));
    pickerRow->addWidget(m_month);
    pickerRow->addWidget(new QLabel(u"月"_s, this));
    pickerRow->addWidget(m_day);
    pickerRow->addWidget(new QLabel(u"日"_s, this));
    pickerRow->addWidget(m_weekday);
    pickerRow->addStretch(1);
    m_pickers = new DatePickers(state.clock, m_year, m_month, m_day, nullptr, m_weekday, this);
    connect(m_pickers, &DatePickers::pickerLeft, this, &VisitScreen::refreshLists);

    auto *waitingHeading = new QLabel(u"予防接種予約者"_s, this);
    waitingHeading->setObjectName(u"Label2(0)"_s);
    auto *visitedHeading = new QLabel(u"来院者"_s, this);
    visitedHeading->setObjectName(u"Label2(1)"_s);
    m_waiting = new VisitList(this);
    m_waiting->setObjectName(u"List1"_s);
    m_visited = new VisitList(this);
    m_visited->setObjectName(u"List2"_s);
    m_waiting->setPartner(m_visited);
    m_visited->setPartner(m_waiting);
    connect(m_waiting, &VisitList::dropped, this, &VisitScreen::List1_DragDrop);
    connect(m_visited, &VisitList::dropped, this, &VisitScreen::List2_DragDrop);
    connect(m_waiting, &QListWidget::itemDoubleClicked, this, &VisitScreen::detail_show);

    m_move = new QPushButton(u"⇔"_s, this);
    m_move->setObjectName(u"Command1"_s);
    m_move->setMinimumSize(64, 44);
    QFont arrow = m_move->font();
    arrow.setPointSizeF(arrow.pointSizeF() * 1.8);
    m_move->setFont(arrow);
    connect(m_move, &QPushButton::clicked, this, &VisitScreen::Command1_Click);

    auto *lists = new QGridLayout;
    lists->addWidget(waitingHeading, 0, 0);
    lists->addWidget(visitedHeading, 0, 2);
    lists->addWidget(m_waiting, 1, 0);
    lists->addWidget(m_move, 1, 1, Qt::AlignCenter);
    lists->addWidget(m_visited, 1, 2);
    lists->setColumnStretch(0, 1);
    lists->setColumnStretch(2, 1);

    m_autoRefresh = new AutoRefresh(u"Command3"_s, this);
    connect(m_autoRefresh->button(), &QPushButton::clicked, this, &VisitScreen::refreshLists);
    connect(m_autoRefresh->timer(), &QTimer::timeout, this, &VisitScreen::Timer1_Timer);

    auto *refreshRow = new QHBoxLayout;
    refreshRow->addWidget(m_autoRefresh->frame());
    refreshRow->addWidget(m_autoRefresh->button(), 0, Qt::AlignBottom);
    refreshRow->addStretch(1);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(16, 12, 16, 12);
    page->addLayout(pickerRow);
    page->addLayout(lists, 1);
    page->addLayout(refreshRow);

    m_pickers->today_set();
    Combo1_0_set();
    Combo1_1_set();
    Combo1_2_set();
    refreshLists();
    option_set();
}

VisitScreen::~VisitScreen() = default;

void VisitScreen::Combo1_0_set()
{
    m_pickers->Combo_0_set();
}

void VisitScreen::Combo1_1_set()
{
    m_pickers->Combo_1_set();
}

void VisitScreen::Combo1_2_set()
{
    m_pickers->Combo_2_set();
}

void VisitScreen::option_set()
{
    m_autoRefresh->setOn(false);
}

void VisitScreen::loadLists()
{
    const QString key = m_pickers->dateKey();
    const QList<VisitEntry> waiting = reservationsOfDayByVisit(m_state.db, key, 0);
    const QList<VisitEntry> visited = reservationsOfDayByVisit(m_state.db, key, 1);
    if (key != m_shownKey) { // another day: nothing chosen carries over
        m_waiting->clearSelection();
        m_visited->clearSelection();
    }
    fill(m_waiting, waiting);
    fill(m_visited, visited);
    m_shownKey = key;
}

bool VisitScreen::refreshLists()
{
    try {
        loadLists();
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"予約者の一覧を読み込めませんでした。\r\n"_s + error.message());
        return false;
    }
    return true;
}

void VisitScreen::fill(QListWidget *list, const QList<VisitEntry> &entries)
{
    // A line chosen (or being dragged) when a refresh comes stays chosen if its reservation is still
    // listed; one that is gone is remembered, so that the move the user meant is not lost unseen.
    // A line is its reservation only while number, hour and name all agree: another program may have
    // written a row under the number.
    QStringList chosen;
    for (const QListWidgetItem *line : list->selectedItems()) {
        chosen << visitLine(entryOf(line)) + u'#' + QString::number(entryOf(line).yno);
    }
    list->clear();
    for (const VisitEntry &entry : entries) {
        auto *line = new QListWidgetItem(visitLine(entry));
        line->setData(YnoRole, entry.yno);
        line->setData(TimeRole, entry.ytime);
        line->setData(NameRole, entry.knm);
        list->addItem(line);
        if (chosen.removeOne(visitLine(entry) + u'#' + QString::number(entry.yno))) {
            list->setCurrentItem(line);
        }
    }
    list->sortItems();
    if (!chosen.isEmpty()) {
        m_chosenGone = true;
    }
}

void VisitScreen::Timer1_Timer()
{
    m_autoRefresh->tick(m_state.dialogs, u"予約者の一覧を読み込めませんでした。"_s, [this] { loadLists(); });
}

bool VisitScreen::moveSelected(QListWidget *from, QListWidget *to, int cflg)
{
    // Taken first: removing the chosen line makes the list select its neighbour, which must not move too.
    const QList<QListWidgetItem *> chosen = from->selectedItems();
    QStringList moved;
    QStringList gone;
    bool done = true;
    for (QListWidgetItem *line : chosen) {
        try {
            // Nothing is written for a reservation cancelled or changed meanwhile: its line stays.
            if (!setVisitFlag(m_state.db, entryOf(line), m_shownKey, cflg)) {
                gone << entryOf(line).knm;
                continue;
            }
        } catch (const DbError &error) {
            m_state.dialogs.tell(
                (cflg == 1 ? u"来院を記録できませんでした。\r\n"_s : u"来院の取り消しができませんでした。\r\n"_s) +
                error.message());
            done = false;
            break;
        }
        moved << entryOf(line).knm;
        to->addItem(from->takeItem(from->row(line)));
    }
    if (!moved.isEmpty()) {
        m_state.notices.post(visitNotice(moved, cflg == 1));
    }
    // A moved line leaves nothing chosen behind, so that the next "⇔" moves only what the user picks.
    from->clearSelection();
    if (!gone.isEmpty()) {
        m_state.dialogs.tell(u"次の予約は他の端末で取り消されたか変更されているため、記録していません：%1\r\n"
                             u"一覧を最新の内容に更新します。"_s.arg(gone.join(u"、"_s)));
        refreshLists();
        return false;
    }
    return done;
}

bool VisitScreen::chosenLineGone()
{
    if (!std::exchange(m_chosenGone, false) || !m_waiting->selectedItems().isEmpty() ||
        !m_visited->selectedItems().isEmpty()) {
        return false;
    }
    m_state.dialogs.tell(
        u"選んでいた予約は、一覧の更新で見当たらなくなりました（他の端末で変更または取り消されています）。\r\n"
        u"何も移動していません。"_s);
    return true;
}

void VisitScreen::Command1_Click()
{
    if (chosenLineGone()) {
        return;
    }
    if (moveSelected(m_waiting, m_visited, 1)) {
        moveSelected(m_visited, m_waiting, 0);
    }
}

void VisitScreen::List1_DragDrop()
{
    if (chosenLineGone()) {
        return;
    }
    moveSelected(m_visited, m_waiting, 0);
}

void VisitScreen::List2_DragDrop()
{
    if (chosenLineGone()) {
        return;
    }
    moveSelected(m_waiting, m_visited, 1);
}

void VisitScreen::detail_show(QListWidgetItem *line)
{
    if (line == nullptr) {
        return;
    }
    std::optional<Reservation> reservation;
    try {
        reservation = reservationOfEntry(m_state.db, entryOf(line), m_shownKey);
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"予約の詳細を読み込めませんでした。\r\n"_s + error.message());
        return;
    }
    if (reservation) {
        m_state.dialogs.tell(detailText(*reservation));
    }
}

} // namespace qrb
