#include "DatePickers.h"

#include "EntryRules.h"

#include "config/Clock.h"
#include "shared/Dates.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>

using namespace Qt::StringLiterals;

namespace qrb {

DatePickers::DatePickers(const Clock &clock, QComboBox *year, QComboBox *month, QComboBox *day, QComboBox *hour,
                         QLabel *weekday, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_year(year)
    , m_month(month)
    , m_day(day)
    , m_hour(hour)
    , m_weekday(weekday)
{
    for (QComboBox *combo : {m_year, m_month, m_day, m_hour}) {
        if (combo != nullptr) {
            combo->installEventFilter(this);
            connect(combo, &QObject::destroyed, this, [this] { m_closing = true; });
        }
    }
}

QComboBox *DatePickers::makeCombo(const QString &name, int width, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    // Inline completion would turn a typed "1" into "10" before the picker is left, booking another
    // day than the one typed; a typed text stays as typed until leaving the picker pads it.
    combo->setCompleter(nullptr);
    combo->setMinimumWidth(width);
    return combo;
}

DatePickers::~DatePickers() = default;

void DatePickers::Combo_0_set()
{
    const int thisYear = m_clock.today().year();
    for (int i = 0; i <= 1; ++i) {
        m_year->addItem(QString::number(thisYear + i));
    }
    m_year->setCurrentText(QString::number(thisYear));
}

void DatePickers::Combo_1_set()
{
    for (int i = 1; i <= 12; ++i) {
        m_month->addItem(twoDigits(i));
    }
    m_month->setCurrentText(twoDigits(m_clock.today().month()));
}

void DatePickers::Combo_2_set()
{
    const int days = daysInMonth(year(), month()).value_or(0);
    for (int i = 1; i <= days; ++i) {
        m_day->addItem(twoDigits(i));
    }
    m_day->setCurrentText(twoDigits(m_clock.today().day()));
}

void DatePickers::Combo_2_set2()
{
    const QString chosen = day();
    const auto days = daysInMonth(year(), month());
    if (!days) {
        return; // a year or month that is no number: leave the day list alone
    }
    m_day->clear();
    for (int i = 1; i <= *days; ++i) {
        m_day->addItem(twoDigits(i));
    }
    bool ok = false;
    const int wanted = chosen.toInt(&ok);
    if (!ok) {
        m_day->setCurrentText(chosen);
    } else {
        m_day->setCurrentText(twoDigits(std::min(wanted, *days)));
    }
}

void DatePickers::Combo_3_set()
{
    for (int i = 0; i < SlotCount; ++i) {
        m_hour->addItem(slotKey(i));
    }
    m_hour->setCurrentText(clampedSlot(m_clock.now().time()));
}

void DatePickers::today_set()
{
    setDate(m_clock.today());
}

void DatePickers::setDate(const QDate &date)
{
    m_year->setCurrentText(QString::number(date.year()));
    m_month->setCurrentText(twoDigits(date.month()));
    m_day->setCurrentText(twoDigits(date.day()));
    updateWeekday();
}

void DatePickers::updateWeekday()
{
    // Texts that are no date (a month 13) show no weekday rather than the last one.
    const auto d = date();
    m_weekday->setText(d ? weekdayLabel(weekdayNumber(*d)) : QString());
}

QString DatePickers::year() const
{
    return m_year->currentText();
}

QString DatePickers::month() const
{
    return m_month->currentText();
}

QString DatePickers::day() const
{
    return m_day->currentText();
}

QString DatePickers::hour() const
{
    return m_hour != nullptr ? m_hour->currentText() : QString();
}

QString DatePickers::dateKey() const
{
    return qrb::dateKey(year(), month(), day());
}

std::optional<QDate> DatePickers::date() const
{
    return dateFromTexts(year(), month(), day());
}

bool DatePickers::eventFilter(QObject *watched, QEvent *event)
{
    // Opening a combo's own list moves the focus to the list for a moment, and a message box (one that
    // tells of a failed refresh, say) takes it from the window: neither is a leaving of the picker.
    // A screen closed while a picker has the focus takes the focus from it while deleting the pickers:
    // the row is going away then (a combo already gone, or this one half-destroyed), nothing to follow.
    const bool left = !m_closing && qobject_cast<QComboBox *>(watched) != nullptr &&
                      event->type() == QEvent::FocusOut &&
                      static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason &&
                      static_cast<QFocusEvent *>(event)->reason() != Qt::ActiveWindowFocusReason;
    if (left) {
        QComboBox *const combos[] = {m_year, m_month, m_day, m_hour};
        for (int index = 0; index < 4; ++index) {
            QComboBox *combo = combos[index];
            if (combo != nullptr && watched == combo) {
                // The month and hour are read as the day is: "3" or a full-width "３" is "03".
                const QString typed = combo->currentText();
                const QString read = combo == m_year ? halfwidthDigits(typed.trimmed()) : pickerText(typed);
                if (read != typed) {
                    combo->setCurrentText(read);
                }
                Combo_2_set2();
                updateWeekday();
                emit pickerLeft(index);
                break;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace qrb
