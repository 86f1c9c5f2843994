#include "AutoRefresh.h"

#include "Named.h"
#include "screens/common/Dialogs.h"
#include "db/Database.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

constexpr int RefreshInterval = 10000;

} // namespace

AutoRefresh::AutoRefresh(const QString &buttonName, QWidget *screen)
    : QObject(screen)
{
    m_frame = new QGroupBox(u"自動更新"_s, screen);
    m_frame->setObjectName(u"Frame1"_s);
    m_on = named<QRadioButton>(u"Option1(0)"_s, u"ON"_s, m_frame);
    m_off = named<QRadioButton>(u"Option1(1)"_s, u"OFF"_s, m_frame);
    auto *row = new QHBoxLayout(m_frame);
    row->addWidget(m_on);
    row->addWidget(m_off);
    connect(m_on, &QRadioButton::clicked, this, [this] { setOn(true); });
    connect(m_off, &QRadioButton::clicked, this, [this] { setOn(false); });

    m_button = named<QPushButton>(buttonName, u"手動更新"_s, screen);

    m_timer = new QTimer(screen);
    m_timer->setObjectName(u"Timer1"_s);
    m_timer->setInterval(RefreshInterval);
}

AutoRefresh::~AutoRefresh() = default;

QGroupBox *AutoRefresh::frame() const
{
    return m_frame;
}

QPushButton *AutoRefresh::button() const
{
    return m_button;
}

QTimer *AutoRefresh::timer() const
{
    return m_timer;
}

void AutoRefresh::setOn(bool on)
{
    m_on->setChecked(on);
    m_off->setChecked(!on);
    if (on) {
        m_timer->start();
    } else {
        m_timer->stop();
    }
    m_button->setEnabled(!on);
}

void AutoRefresh::tick(Dialogs &dialogs, const QString &failure, const std::function<void()> &read)
{
    try {
        read();
    } catch (const DbError &error) {
        setOn(false);
        dialogs.tell(failure + u"自動更新を停止しました。\r\n"_s + error.message());
    }
}

} // namespace qrb
