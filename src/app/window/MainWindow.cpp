#include "MainWindow.h"

#include "config/Clock.h"
#include "screens/common/Dialogs.h"
#include "screens/common/ProgramState.h"
#include "db/Database.h"
#include "screens/common/Notices.h"
#include "screens/common/PlainText.h"
#include "screens/common/ReturnPressesButtons.h"
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
#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPropertyAnimation>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QTranslator>

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

// Shows the tooltip of the menu entry under the mouse (a menu bar shows none of its own), so that
// the function key of each entry can be found where the entry is.
class MenuTooltips final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *bar = qobject_cast<QMenuBar *>(watched);
        if (bar == nullptr || event->type() != QEvent::ToolTip) {
            return false;
        }
        const auto *help = static_cast<QHelpEvent *>(event);
        if (QAction *action = bar->actionAt(help->pos())) {
            QToolTip::showText(help->globalPos(), action->toolTip(), bar, bar->actionGeometry(action));
        } else {
            QToolTip::hideText();
        }
        return true;
    }
};

} // namespace

// The notice panel of the status bar: as wide as the bar leaves it and never wider, so that a long
// name cannot widen the main window off the screen; a notice too long for it ends in "…", the whole
// of it in the tooltip. Plain text both: a notice carries names as they were typed.
class NoticeLabel final : public QLabel
{
public:
    explicit NoticeLabel(QWidget *parent)
        : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    void setNotice(const QString &notice)
    {
        m_notice = notice;
        setToolTip(plainToolTip(notice));
        elide();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(m_notice, Qt::ElideRight, contentsRect().width())); }

    QString m_notice;
};

bool installJapaneseTranslations(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(u"qt_ja"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

MainWindow::MainWindow(ProgramState &state, QWidget *parent)
    : QMainWindow(parent)
    , m_state(state)
{
    setObjectName(u"frmMain"_s);
    setWindowTitle(u"QRB"_s);

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(u"MDIArea"_s);
    setCentralWidget(m_mdi);

    const QList<QAction *> entries{
        addEntry(u"mnu予約登録"_s, u"予約登録"_s, make<EntryScreen>),
        addEntry(u"mnu検索"_s, u"検索"_s, make<SearchScreen>),
        addEntry(u"mnu来院記録"_s, u"来院記録"_s, make<VisitScreen>),
        addEntry(u"mnu予約状況"_s, u"予約状況"_s, make<StatusScreen>),
        addEntry(u"mnu帳票"_s, u"帳票"_s, make<ReportScreen>),
        addEntry(u"mnu設定"_s, u"設定"_s, make<SettingsScreen>),
        addEntry(u"mnuHELP"_s, u"HELP"_s, make<HelpScreen>),
        addEntry(u"mnuDB管理"_s, u"DB管理"_s, make<DBAdminScreen>),
        addEntry(u"mnu終了"_s, u"プログラム終了"_s, nullptr),
    };
    connect(entries.last(), &QAction::triggered, this, &MainWindow::confirmExit);
    // Function keys in menu order, as desk software here has them; the captions stay as they are and
    // each entry's tooltip tells its key.
    for (int i = 0; i < entries.size(); ++i) {
        const QKeySequence key(static_cast<int>(Qt::Key_F1) + i);
        entries[i]->setShortcut(key);
        entries[i]->setToolTip(u"%1（%2）"_s.arg(entries[i]->text(), key.toString(QKeySequence::NativeText)));
    }
    menuBar()->installEventFilter(new MenuTooltips(menuBar()));
    QCoreApplication::instance()->installEventFilter(new ReturnPressesButtons(this));

    auto *bar = new QStatusBar(this);
    bar->setObjectName(u"sbStatusBar"_s);
    bar->setSizeGripEnabled(false);
    setStatusBar(bar);
    // The status panel: its caption, then what the desk has just written.
    auto *statusPanel = new QFrame(bar);
    auto *statusRow = new QHBoxLayout(statusPanel);
    statusRow->setContentsMargins(0, 0, 0, 0);
    statusRow->setSpacing(16);
    statusRow->addWidget(new QLabel(u"ｽﾃｰﾀｽ"_s, statusPanel));
    m_noticePanel = new NoticeLabel(statusPanel);
    m_noticePanel->setObjectName(u"StatusNotice"_s);
    m_noticePanel->setGraphicsEffect(new QGraphicsOpacityEffect(m_noticePanel));
    statusRow->addWidget(m_noticePanel, 1);
    m_datePanel = new QLabel(bar);
    m_timePanel = new QLabel(bar);
    for (QFrame *panel : std::initializer_list<QFrame *>{statusPanel, m_datePanel, m_timePanel}) {
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
    m_noticeTimer = new QTimer(this);
    m_noticeTimer->setObjectName(u"NoticeTimer"_s);
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(NoticeMilliseconds);
    connect(m_noticeTimer, &QTimer::timeout, this, &MainWindow::fadeNotice);
    connect(&m_state.notices, &Notices::posted, this, &MainWindow::showNotice);

    MDIForm_close();
    openScreen(make<HelpScreen>);
}

MainWindow::~MainWindow() = default;

QAction *MainWindow::addEntry(const QString &name, const QString &caption, ScreenFactory factory)
{
    QAction *action = menuBar()->addAction(caption);
    action->setObjectName(name);
    if (factory) {
        connect(action, &QAction::triggered, this, [this, factory] { openScreen(factory); });
    }
    return action;
}

void MainWindow::showNotice(const QString &text)
{
    auto *effect = static_cast<QGraphicsOpacityEffect *>(m_noticePanel->graphicsEffect());
    delete effect->findChild<QPropertyAnimation *>();
    effect->setOpacity(1.0);
    m_noticePanel->setNotice(text);
    m_noticeTimer->start();
}

void MainWindow::fadeNotice()
{
    // Nothing modal and nothing to close: the notice dims away and the panel is empty again.
    auto *effect = static_cast<QGraphicsOpacityEffect *>(m_noticePanel->graphicsEffect());
    auto *fading = new QPropertyAnimation(effect, "opacity", effect);
    fading->setDuration(1500);
    fading->setEndValue(0.0);
    connect(fading, &QPropertyAnimation::finished, this, [this, fading] {
        m_noticePanel->setNotice(QString());
        fading->deleteLater();
    });
    fading->start();
}

void MainWindow::openScreen(const ScreenFactory &factory)
{
    MDIForm_close();
    QWidget *screen = factory(m_state, nullptr);
    // No frame and so no minimise, restore or close buttons: a screen always fills the main window,
    // and one stray click must not shrink it into a small window on grey.
    QMdiSubWindow *window = m_mdi->addSubWindow(screen, Qt::FramelessWindowHint);
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
