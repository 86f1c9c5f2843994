#include "SearchScreen.h"

#include "SearchResults.h"
#include "SearchTexts.h"

#include "screens/common/Dialogs.h"
#include "screens/common/ProgramState.h"
#include "db/Database.h"
#include "db/Search.h"
#include "screens/common/Named.h"
#include "shared/Text.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qrb {

SearchScreen::SearchScreen(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"frmSearch"_s);
    setWindowTitle(u"検索"_s);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(12);

    // The search boxes side by side, each under its caption, in the order the desk reads them.
    auto *boxes = new QGridLayout;
    boxes->setHorizontalSpacing(12);
    boxes->setVerticalSpacing(2);
    const struct {
        int index;
        QString caption;
        QString captionName;
    } searches[] = {
        {4, u"患者番号"_s, u"Label1(4)"_s},
        {0, u"氏名"_s, u"Label1(0)"_s},
        {1, u"カナ氏名"_s, u"Label1(1)"_s},
        {3, u"電話番号"_s, u"Label1(3)"_s},
    };
    int column = 0;
    QWidget *previous = nullptr;
    for (const auto &search : searches) {
        auto *box = new QLineEdit(this);
        box->setObjectName(u"Text1(%1)"_s.arg(search.index));
        box->setMinimumWidth(160);
        box->installEventFilter(this);
        // Enter is how a receptionist says "search": it runs the search leaving the box would run.
        connect(box, &QLineEdit::returnPressed, this, [this, index = search.index] { Text1_LostFocus(index); });
        m_boxes[search.index] = box;
        boxes->addWidget(named<QLabel>(search.captionName, search.caption, this), 0, column);
        boxes->addWidget(box, 1, column);
        if (previous != nullptr) {
            setTabOrder(previous, box);
        }
        previous = box;
        ++column;
    }
    boxes->setColumnStretch(column, 1);
    layout->addLayout(boxes);

    auto *body = new QHBoxLayout;
    body->setSpacing(16);
    layout->addLayout(body, 1);

    auto *results = new QVBoxLayout;
    results->setSpacing(2);
    auto *heading = new QHBoxLayout;
    heading->addWidget(named<QLabel>(u"Label3(5)"_s, u"氏名　*　予約日　＊　予約時間"_s, this), 1);
    m_count = new QLabel(this);
    m_count->setObjectName(u"matchCount"_s);
    heading->addWidget(m_count);
    results->addLayout(heading);
    m_results = new SearchResults(this);
    m_list = new QListView(this);
    m_list->setObjectName(u"List1"_s);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every line is one text of one height: the view then lays out a long list without measuring it.
    m_list->setUniformItemSizes(true);
    m_list->setModel(m_results);
    m_list->setMinimumWidth(320);
    results->addWidget(m_list, 1);
    body->addLayout(results, 2);
    setTabOrder(previous, m_list);

    for (int i = 0; i < static_cast<int>(m_values.size()); ++i) {
        auto *value = new QLabel(this);
        value->setObjectName(u"Label4(%1)"_s.arg(i));
        // Names and remarks are shown exactly as stored, never read as markup.
        value->setTextFormat(Qt::PlainText);
        value->setFrameShape(QFrame::Panel);
        value->setFrameShadow(QFrame::Sunken);
        value->setMinimumWidth(150);
        // An empty label keeps the height of a filled one, so the rows do not jump on the first click.
        value->setMinimumHeight(value->fontMetrics().height() + 2 * value->frameWidth() + 4);
        value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        m_values[i] = value;
    }
    auto *details = new QGridLayout;
    details->setHorizontalSpacing(8);
    details->setVerticalSpacing(6);
    const struct {
        QString captionName;
        QString caption;
        int first;
        int second; // -1: the row has one value label
    } rows[] = {
        {u"Label3(9)"_s, u"氏名"_s, 13, 14},     {u"Label3(0)"_s, u"予約日"_s, 0, 1},
        {u"Label3(1)"_s, u"予約時間"_s, 2, -1},  {u"Label3(7)"_s, u"予防接種"_s, 3, 15},
        {u"Label3(6)"_s, u"生年月日"_s, 4, 5},   {u"Label3(3)"_s, u"来院歴"_s, 6, 7},
        {u"Label3(4)"_s, u"組合員"_s, 8, 9},     {u"Label3(8)"_s, u"電話番号"_s, 11, 12},
    };
    int row = 0;
    for (const auto &line : rows) {
        details->addWidget(named<QLabel>(line.captionName, line.caption, this), row, 0);
        details->addWidget(m_values[line.first], row, 1);
        if (line.second >= 0) {
            details->addWidget(m_values[line.second], row, 2);
        }
        ++row;
    }
    details->addWidget(named<QLabel>(u"Label3(2)"_s, u"備考"_s, this), row, 0, Qt::AlignTop);
    QLabel *remarks = m_values[10];
    remarks->setWordWrap(true);
    remarks->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    remarks->setMinimumHeight(120);
    remarks->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    details->addWidget(remarks, row, 1, 1, 2);
    details->setColumnStretch(1, 1);
    details->setColumnStretch(2, 1);
    details->setRowStretch(row, 1);
    body->addLayout(details, 3);

    connect(m_list, &QListView::clicked, this, &SearchScreen::List1_Click);
    // Moving through the lines with the arrow keys shows their details as a click does.
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { List1_Click(current); });
    connect(m_results, &SearchResults::countChanged, this, [this] { m_count->setText(m_results->countText()); });
    connect(m_results, &SearchResults::pageFailed, this,
            [this](const QString &reason) { tellFailure(u"予約を検索できませんでした。"_s, reason); });

    clear_all();
}

SearchScreen::~SearchScreen() = default;

void SearchScreen::clear_all()
{
    for (QLineEdit *box : m_boxes) {
        if (box != nullptr) {
            box->clear();
        }
    }
    for (QLabel *value : m_values) {
        value->clear();
    }
    m_results->clear();
}

bool SearchScreen::eventFilter(QObject *watched, QEvent *event)
{
    for (int index = 0; index < static_cast<int>(m_boxes.size()); ++index) {
        if (m_boxes[index] == nullptr || watched != m_boxes[index]) {
            continue;
        }
        if (event->type() == QEvent::FocusOut) {
            // Switching to another program or opening the box's context menu is no leaving of the box.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                Text1_LostFocus(index);
            }
        } else if (event->type() == QEvent::MouseButtonPress) {
            // A click into a box starts a new search from an empty screen; Tab keeps the results.
            clear_all();
        }
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SearchScreen::Text1_LostFocus(int index)
{
    // A name pasted from a spreadsheet brings its line break or tab along: searched for, and shown,
    // without them.
    const QString typed = oneLine(m_boxes[index]->text());
    if (typed != m_boxes[index]->text()) {
        m_boxes[index]->setText(typed);
    }
    if (typed.isEmpty()) {
        return;
    }
    using Finder = QList<SearchHit> (*)(Database &, const QString &, const SearchPage &);
    Finder finder = nullptr;
    switch (index) {
    case 0:
        finder = reservationsWithNameContaining;
        break;
    case 1:
        finder = reservationsWithKanaStartingWith;
        break;
    case 3:
        finder = reservationsWithTelephoneStartingWith;
        break;
    case 4:
        finder = reservationsWithPatientNumber;
        break;
    default:
        return;
    }
    Database &db = m_state.db;
    try {
        m_results->start([&db, finder, typed](const SearchPage &page) { return finder(db, typed, page); });
    } catch (const DbError &error) {
        tellFailure(u"予約を検索できませんでした。"_s, error.message());
    }
}

void SearchScreen::List1_Click(const QModelIndex &line)
{
    if (!line.isValid()) {
        return;
    }
    showDetails(line);
}

void SearchScreen::showDetails(const QModelIndex &line)
{
    std::optional<Reservation> found;
    try {
        found = reservationOfHit(m_state.db, m_results->hitAt(line));
    } catch (const DbError &error) {
        tellFailure(u"予約の内容を読み込めませんでした。"_s, error.message());
        return;
    }
    // Cancelled or changed at another workstation since the search: the details of the line shown
    // before would stand beside this one, so they go, and the user learns why.
    if (!found) {
        for (QLabel *value : m_values) {
            value->clear();
        }
        if (m_toldGone == line) {
            return;
        }
        m_toldGone = line;
        m_state.dialogs.tell(u"選んだ予約は見つかりません。他の端末で取り消されたか、変更されたようです。\r\n"
                             u"もう一度検索してください。"_s);
        return;
    }
    m_toldGone = QPersistentModelIndex();
    const Reservation &r = *found;
    const auto show = [this](int label, const QString &text) { m_values[label]->setText(text); };
    const auto showIfKnown = [this](int label, const std::optional<QString> &text) {
        if (text) {
            m_values[label]->setText(*text);
        }
    };
    show(0, r.ydate);
    show(2, hourRange(r.ytime));
    show(3, visitStateText(r.cflg));
    showIfKnown(15, vaccinationKindText(r.sflg, r.scnt));
    show(4, birthCalendarText(r.bflg));
    show(5, r.birthday);
    showIfKnown(6, visitHistoryText(r.rflg));
    show(7, r.kno);
    showIfKnown(8, membershipText(r.kflg));
    show(9, r.kmno);
    show(10, QString(r.biko).replace(u"\r\n"_s, u"\n"_s));
    show(11, r.tel1);
    show(12, r.tel2);
    show(13, r.knm);
    show(14, r.kknm);
}

void SearchScreen::tellFailure(const QString &doing, const QString &reason)
{
    m_state.dialogs.tell(doing + u"\r\n"_s + QString(reason).replace(u"\n"_s, u"\r\n"_s));
}

} // namespace qrb
