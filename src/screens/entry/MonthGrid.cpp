#include "MonthGrid.h"

#include "DatePickers.h"
#include "EntryRules.h"

#include "db/Booking.h"
#include "screens/common/ClosedDayLook.h"
#include "screens/common/ProgramState.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>
#include <utility>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

constexpr int GridColumns = 2 + SlotCount;
// The month grid's marks for a slot at its capacity and one over it.
const QColor FullColour(0xFF, 0xD8, 0x80);
const QColor OverColour(0xFF, 0xA0, 0xA0);

// A tooltip is shown as rich text whenever Qt takes it for some; a closure's name from setting.ini is
// shown as it is written.
QString plainToolTip(const QString &text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

// List1: Return and Space load the current line, and so does every key that moves to a line (with one
// name, Down and Home load it too). Entering the list with Tab only makes its first line current.
class NamesList final : public QListWidget
{
public:
    using QListWidget::QListWidget;
    std::function<void(const QString &)> chosen;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            // Taken here even on an empty list: the key is no press of the screen's buttons.
            event->accept();
            break;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QListWidget::keyPressEvent(event);
            break;
        default:
            QListWidget::keyPressEvent(event);
            return;
        }
        if (currentItem() != nullptr) {
            chosen(currentItem()->text());
        }
    }
};

} // namespace

MonthGrid::MonthGrid(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    auto *lists = new QHBoxLayout(this);
    lists->setContentsMargins(0, 0, 0, 0);
    auto *names = new NamesList(this);
    names->chosen = [this](const QString &name) { emit nameChosen(name); };
    m_names = names;
    m_names->setObjectName(u"List1"_s);
    m_names->setMinimumWidth(160);
    connect(m_names, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) { emit nameChosen(item->text()); });
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
    connect(m_grid, &QTreeWidget::itemDoubleClicked, this, &MonthGrid::gridDoubleClicked);
    auto *gridColumn = new QVBoxLayout;
    gridColumn->addWidget(m_grid, 1);
    auto *legend = new QHBoxLayout;
    for (const auto &[colour, meaning] : {std::pair{FullColour, u"満席"_s}, std::pair{OverColour, u"定員超過"_s},
                                          std::pair{ClosedDayGround, u"休診日"_s}}) {
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
}

MonthGrid::~MonthGrid() = default;

void MonthGrid::fillGrid(const DatePickers &row)
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
        if (const auto note = m_state.config.CLOSED.closedNote(date)) {
            item->setForeground(0, ClosedDayText);
            item->setBackground(0, ClosedDayGround);
            for (int column = 0; column < GridColumns; ++column) {
                item->setToolTip(column, plainToolTip(*note));
            }
        }
        date = date.addDays(1);
        items << item;
    }
    m_grid->addTopLevelItems(items);
}

void MonthGrid::fillNames(const DatePickers &row)
{
    const QStringList names = namesInSlot(m_state.db, row.dateKey(), row.hour());
    m_names->clear();
    m_names->addItems(names);
}

void MonthGrid::gridDoubleClicked(const QTreeWidgetItem *item, int column)
{
    const QDate date = item->data(0, Qt::UserRole).toDate();
    if (!date.isValid()) {
        return;
    }
    emit dayChosen(date, column >= 1 && column <= SlotCount ? column - 1 : -1);
}

void MonthGrid::applyGridWidths()
{
    const double width = m_grid->viewport()->width();
    m_grid->setColumnWidth(0, static_cast<int>(width * 8.5 / 100));
    for (int column = 1; column <= SlotCount; ++column) {
        m_grid->setColumnWidth(column, static_cast<int>(width * 8.7 / 100));
    }
}

bool MonthGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (m_grid != nullptr && watched == m_grid->viewport() && event->type() == QEvent::Resize) {
        applyGridWidths();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qrb
