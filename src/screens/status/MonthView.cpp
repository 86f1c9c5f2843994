#include "MonthView.h"

#include "config/ClosedDays.h"
#include "screens/common/ClosedDayLook.h"

#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QTextCharFormat>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

constexpr int Shown = 3;

QDate firstOfMonth(QDate date)
{
    return QDate(date.year(), date.month(), 1);
}

} // namespace

MonthView::MonthView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"MonthView1"_s);
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(8);

    m_back = new QToolButton(this);
    m_back->setArrowType(Qt::LeftArrow);
    m_back->setAutoRaise(true);
    m_forward = new QToolButton(this);
    m_forward->setArrowType(Qt::RightArrow);
    m_forward->setAutoRaise(true);
    connect(m_back, &QToolButton::clicked, this, [this] { scrollMonths(-1); });
    connect(m_forward, &QToolButton::clicked, this, [this] { scrollMonths(1); });

    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    for (int i = 0; i < Shown; ++i) {
        auto *title = new QLabel(this);
        title->setAlignment(Qt::AlignCenter);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        auto *calendar = new QCalendarWidget(this);
        calendar->setLocale(japanese);
        calendar->setFirstDayOfWeek(Qt::Sunday);
        calendar->setNavigationBarVisible(false);
        calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
        calendar->setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
        connect(calendar, &QCalendarWidget::selectionChanged, this, [this, calendar] { chosen(calendar); });
        // A click on the day already selected changes no selection, yet it asks for that day again.
        connect(calendar, &QCalendarWidget::clicked, this, [this](QDate date) {
            if (date == m_selectedAtPress && date == m_selected) {
                emit dateClicked(date);
            }
        });
        if (auto *days = calendar->findChild<QAbstractItemView *>()) {
            days->viewport()->installEventFilter(this);
        }
        m_titles << title;
        m_months << calendar;
    }
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(m_back);
    for (QLabel *title : std::as_const(m_titles)) {
        titleRow->addWidget(title, 1);
    }
    titleRow->addWidget(m_forward);
    layout->addLayout(titleRow, 0, 0, 1, Shown);
    for (int i = 0; i < Shown; ++i) {
        layout->addWidget(m_months[i], 1, i);
    }
}

MonthView::~MonthView() = default;

void MonthView::setSelectedDate(QDate date)
{
    if (!date.isValid()) {
        return;
    }
    m_selected = date;
    bringIntoView(date);
    render();
}

void MonthView::scrollMonths(int months)
{
    m_first = m_first.addMonths(months);
    render();
}

void MonthView::markClosedDays(const ClosedDays &days)
{
    m_closed = &days;
    if (m_first.isValid()) {
        render();
    }
}

void MonthView::bringIntoView(QDate date)
{
    const QDate month = firstOfMonth(date);
    if (!m_first.isValid() || month < m_first) {
        m_first = month;
    } else if (month > m_first.addMonths(Shown - 1)) {
        m_first = month.addMonths(-(Shown - 1));
    }
}

bool MonthView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        m_selectedAtPress = m_selected;
    }
    return QWidget::eventFilter(watched, event);
}

void MonthView::chosen(QCalendarWidget *calendar)
{
    if (m_rendering) {
        return;
    }
    const QDate date = calendar->selectedDate();
    // A calendar not holding the selected day keeps a day far outside its page; the arrow keys in it
    // would wander off from there, which is no choice of the user's.
    if (date < m_first.addMonths(-1) || date >= m_first.addMonths(Shown + 1)) {
        render();
        return;
    }
    m_selected = date;
    bringIntoView(date);
    render();
    emit dateClicked(date);
}

void MonthView::render()
{
    m_rendering = true;
    bool hadFocus = false;
    QCalendarWidget *owner = nullptr;
    for (int i = 0; i < Shown; ++i) {
        QCalendarWidget *calendar = m_months[i];
        hadFocus = hadFocus || calendar->isAncestorOf(QWidget::focusWidget()) || calendar->hasFocus();
        const QDate month = m_first.addMonths(i);
        m_titles[i]->setText(u"%1年%2月"_s.arg(month.year()).arg(month.month()));
        // Only the month holding the selected day shows it; the others select a day they never show.
        if (firstOfMonth(m_selected) == month) {
            calendar->setSelectedDate(m_selected);
            owner = calendar;
        } else {
            calendar->setSelectedDate(calendar->minimumDate());
        }
        calendar->setCurrentPage(month.year(), month.month());
        markMonth(calendar, month);
    }
    if (hadFocus && owner != nullptr) {
        owner->setFocus();
    }
    m_rendering = false;
}

void MonthView::markMonth(QCalendarWidget *calendar, QDate month)
{
    calendar->setDateTextFormat(QDate(), QTextCharFormat());
    if (m_closed == nullptr) {
        return;
    }
    for (QDate day = month; day.month() == month.month(); day = day.addDays(1)) {
        if (const auto reason = m_closed->closedReason(day)) {
            QTextCharFormat closed;
            closed.setForeground(ClosedDayText);
            closed.setBackground(ClosedDayGround);
            closed.setToolTip(*reason);
            calendar->setDateTextFormat(day, closed);
        }
    }
}

} // namespace qrb
