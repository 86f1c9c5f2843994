#include "ReportScreen.h"

#include "screens/common/Dialogs.h"
#include "screens/common/ProgramState.h"
#include "screens/common/ReportViewer.h"
#include "db/Database.h"
#include "screens/common/Named.h"
#include "screens/entry/DatePickers.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

QPushButton *makeButton(const QString &name, const QString &caption, QWidget *parent)
{
    auto *button = named<QPushButton>(name, caption, parent);
    button->setMinimumSize(200, 48);
    return button;
}

} // namespace

ReportScreen::ReportScreen(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"frmNote"_s);
    setWindowTitle(u"帳票"_s);

    m_year = DatePickers::makeCombo(u"Combo1(0)"_s, 90, this);
    m_month = DatePickers::makeCombo(u"Combo1(1)"_s, 64, this);
    m_day = DatePickers::makeCombo(u"Combo1(2)"_s, 64, this);
    m_weekday = named<QLabel>(u"Label3(2)"_s, QString(), this);
    m_weekday->setMinimumWidth(40);

    auto *selectors = new QHBoxLayout;
    selectors->setSpacing(6); // each caption stays next to its selector
    selectors->addWidget(m_year);
    selectors->addWidget(named<QLabel>(u"Label1(2)"_s, u"年"_s, this));
    selectors->addWidget(m_month);
    selectors->addWidget(named<QLabel>(u"Label1(3)"_s, u"月"_s, this));
    selectors->addWidget(m_day);
    selectors->addWidget(named<QLabel>(u"Label1(4)"_s, u"日"_s, this));
    selectors->addWidget(m_weekday);
    selectors->addStretch(1);

    m_daily = makeButton(u"Command1(0)"_s, u"日報作成"_s, this);
    m_notVisited = makeButton(u"Command1(1)"_s, u"未来院予約者一覧"_s, this);
    m_monthly = makeButton(u"Command2(0)"_s, u"月報作成"_s, this);
    auto *buttons = new QGridLayout;
    buttons->setHorizontalSpacing(16);
    buttons->setVerticalSpacing(12);
    buttons->addWidget(m_daily, 0, 0);
    buttons->addWidget(m_monthly, 0, 1);
    buttons->addWidget(m_notVisited, 1, 0);
    buttons->setColumnStretch(2, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(24);
    layout->addLayout(selectors);
    layout->addLayout(buttons);
    layout->addStretch(1);

    setTabOrder(m_year, m_month);
    setTabOrder(m_month, m_day);
    setTabOrder(m_day, m_daily);
    setTabOrder(m_daily, m_notVisited);
    setTabOrder(m_notVisited, m_monthly);

    connect(m_daily, &QPushButton::clicked, this, [this] { Command1_Click(0); });
    connect(m_notVisited, &QPushButton::clicked, this, [this] { Command1_Click(1); });
    connect(m_monthly, &QPushButton::clicked, this, [this] { Command2_Click(0); });

    // The day list and the weekday label follow when the focus leaves a selector; the pickers do that.
    m_pickers = new DatePickers(m_state.clock, m_year, m_month, m_day, nullptr, m_weekday, this);
    today_set();
    Combo1_0_set();
    Combo1_1_set();
    Combo1_2_set();
}

ReportScreen::~ReportScreen() = default;

void ReportScreen::today_set()
{
    m_pickers->today_set();
}

void ReportScreen::Combo1_0_set()
{
    m_pickers->Combo_0_set();
}

void ReportScreen::Combo1_1_set()
{
    m_pickers->Combo_1_set();
}

void ReportScreen::Combo1_2_set()
{
    m_pickers->Combo_2_set();
}

void ReportScreen::Combo1_2_set2()
{
    m_pickers->Combo_2_set2();
}

void ReportScreen::Command1_Click(int index)
{
    if (index == 0) {
        makeReport(ReportKind::Daily, reportDay(m_pickers->year(), m_pickers->month(), m_pickers->day()));
    } else if (index == 1) {
        makeReport(ReportKind::NotVisited, reportDay(m_pickers->year(), m_pickers->month(), m_pickers->day()));
    }
}

void ReportScreen::Command2_Click(int index)
{
    if (index == 0) {
        // The month's report does not look at the day selector.
        makeReport(ReportKind::Monthly, reportMonth(m_pickers->year(), m_pickers->month()));
    }
}

void ReportScreen::makeReport(ReportKind kind, std::optional<QDate> day)
{
    if (!day) {
        m_state.dialogs.tell(u"日付が正しくありません。見直してください。"_s);
        return;
    }
    WrittenReport written;
    try {
        written = writeReport(m_state.db, reportFolder(m_state.startDir, m_state.config.TXTPATH), kind, *day);
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"%1を作成できませんでした。\r\n%2"_s.arg(reportName(kind), error.message()));
        return;
    } catch (const ReportFileError &error) {
        m_state.dialogs.tell(u"%1を作成できませんでした。\r\n%2"_s.arg(reportName(kind), error.message()));
        return;
    }
    if (written.replaced > 0) {
        m_state.dialogs.tell(u"Shift-JIS で表せない文字が %1 文字あったため、「〓」に置き換えて書き込みました。"_s.arg(
            written.replaced));
    }
    m_state.viewer.showReport(written.path, reportPeriod(kind, *day));
}

} // namespace qrb
