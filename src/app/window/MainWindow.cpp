#include "MainWindow.h"

#include "config/Clock.h"
#include "screens/common/Dialogs.h"
#include "screens/common/ProgramState.h"
#include "db/Database.h"
#include "screens/entry/EntryScreen.h"
#include "screens/help/HelpScreen.h"
#include "screens/maintenance/DBAdminScreen.h"
#include "screens/reports/ReportScreen.h"
#include "screens/search/SearchScreen.h"
#include "screens/settings/SettingsScreen.h"
#include "screens/status/StatusScreen.h"
#include "screens/visits/VisitScreen.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

template<typename Screen>
QWidget *make(ProgramState &state, QWidget *parent)
{
    if constexpr (std::is_constructible_v<Screen, ProgramState &, QWidget *>) {
        return new Screen(state, parent);
    } else {
        return new Screen(parent);
    }
}

} // namespace

MainWindow::MainWindow(ProgramState &state, QWidget *parent)
    : QMainWindow(parent)
    , m_state(state)
{
    setObjectName(u"frmMain"_s);
    setWindowTitle(u"QRB"_s);

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(u"MDIArea"_s);
    setCentralWidget(m_mdi);

    // Entries without a screen yet stay in their place, disabled, so the menu always reads the same.
    addEntry(u"mnu予約登録"_s, u"予約登録"_s, make<EntryScreen>);
    addEntry(u"mnu検索"_s, u"検索"_s, make<SearchScreen>);
    addEntry(u"mnu来院記録"_s, u"来院記録"_s, make<VisitScreen>);
    addEntry(u"mnu予約状況"_s, u"予約状況"_s, make<StatusScreen>);
    addEntry(u"mnu帳票"_s, u"帳票"_s, make<ReportScreen>);
    addEntry(u"mnu設定"_s, u"設定"_s, make<SettingsScreen>);
    addEntry(u"mnuHELP"_s, u"HELP"_s, make<HelpScreen>);
    addEntry(u"mnuDB管理"_s, u"DB管理"_s, make<DBAdminScreen>);
    auto *exit = menuBar()->addAction(u"プログラム終了"_s);
    exit->setObjectName(u"mnu終了"_s);
    connect(exit, &QAction::triggered, this, &MainWindow::confirmExit);

    auto *bar = new QStatusBar(this);
    bar->setObjectName(u"sbStatusBar"_s);
    bar->setSizeGripEnabled(false);
    setStatusBar(bar);
    auto *statusPanel = new QLabel(u"ｽﾃｰﾀｽ"_s, bar);
    m_datePanel = new QLabel(bar);
    m_timePanel = new QLabel(bar);
    for (QLabel *panel : {statusPanel, m_datePanel, m_timePanel}) {
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setContentsMargins(6, 0, 6, 0);
    }
    bar->addWidget(statusPanel, 1);
    bar->addPermanentWidget(m_datePanel);
    bar->addPermanentWidget(m_timePanel);
    refreshStatusBar();
    auto *ticker = new QTimer(this);
    ticker->setInterval(1000);
    connect(ticker, &QTimer::timeout, this, &MainWindow::refreshStatusBar);
    ticker->start();

    MDIForm_close();
    openScreen(make<HelpScreen>);
}

MainWindow::~MainWindow() = default;

void MainWindow::addEntry(const QString &name, const QString &caption, ScreenFactory factory)
{
    QAction *action = menuBar()->addAction(caption);
    action->setObjectName(name);
    action->setEnabled(static_cast<bool>(factory));
    if (factory) {
        connect(action, &QAction::triggered, this, [this, factory] { openScreen(factory); });
    }
}

void MainWindow::openScreen(const ScreenFactory &factory)
{
    MDIForm_close();
    QWidget *screen = factory(m_state, nullptr);
    QMdiSubWindow *window = m_mdi->addSubWindow(screen);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->showMaximized();
    m_mdi->setActiveSubWindow(window);
}

QWidget *MainWindow::currentScreen() const
{
    const auto windows = m_mdi->subWindowList();
    return windows.isEmpty() ? nullptr : windows.first()->widget();
}

void MainWindow::MDIForm_close()
{
    for (QMdiSubWindow *window : m_mdi->subWindowList()) {
        m_mdi->removeSubWindow(window);
        delete window;
    }
}

void MainWindow::refreshStatusBar()
{
    const QDateTime now = m_state.clock.now();
    m_datePanel->setText(now.toString(u"yyyy/MM/dd"_s));
    m_timePanel->setText(now.toString(u"HH:mm"_s));
}

void MainWindow::confirmExit()
{
    if (!m_state.dialogs.ask(u"プログラムを終了します。\r\nよろしいですか？"_s)) {
        return;
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closing) {
        m_closing = true;
        MDIForm_close();
        m_state.db.DB_close();
    }
    event->accept();
}

} // namespace qrb
