#include "HistoryPanel.h"

#include "config/Clock.h"
#include "db/Database.h"
#include "screens/common/Dialogs.h"
#include "screens/common/Named.h"
#include "screens/common/PlainText.h"
#include "screens/common/ProgramState.h"
#include "screens/common/ReportViewer.h"
#include "screens/reports/HistoryReport.h"
#include "shared/Dates.h"
#include "shared/Text.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

const QStringList Keys = {u"日付"_s, u"予約番号"_s, u"患者番号"_s, u"氏名"_s};
const QStringList Columns = {u"日時"_s, u"端末"_s, u"操作"_s, u"予約番号"_s, u"予約日時"_s,
                             u"氏名"_s, u"患者番号"_s, u"内容"_s};

} // namespace

HistoryPanel::HistoryPanel(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"fraHistory"_s);
    m_key = new QComboBox(this);
    m_key->setObjectName(u"Combo1"_s);
    m_key->addItems(Keys);
    m_value = new QLineEdit(dateKey(m_state.clock.today()), this);
    m_value->setObjectName(u"Text2"_s);
    m_value->setMinimumWidth(160);
    const QString captions[] = {u"表示"_s, u"帳票"_s, u"CSV出力"_s};
    for (int i = 0; i < 3; ++i) {
        m_commands[i] = named<QPushButton>(u"Command4(%1)"_s.arg(i), captions[i], this);
    }
    m_list = new QTableWidget(0, int(Columns.size()), this);
    m_list->setObjectName(u"ListView1"_s);
    m_list->setHorizontalHeaderLabels(Columns);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setStretchLastSection(true);

    auto *keys = new QHBoxLayout;
    keys->addWidget(named<QLabel>(u"Label2"_s, u"操作履歴"_s, this));
    keys->addWidget(m_key);
    keys->addWidget(m_value);
    for (QPushButton *b : m_commands) {
        keys->addWidget(b);
    }
    keys->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(keys);
    layout->addWidget(m_list, 1);

    connect(m_key, &QComboBox::currentIndexChanged, this, &HistoryPanel::keyChanged);
    connect(m_value, &QLineEdit::returnPressed, this, &HistoryPanel::showHistory);
    connect(m_commands[0], &QPushButton::clicked, this, &HistoryPanel::showHistory);
    connect(m_commands[1], &QPushButton::clicked, this, &HistoryPanel::writeReport);
    connect(m_commands[2], &QPushButton::clicked, this, &HistoryPanel::writeCsv);
}

HistoryPanel::~HistoryPanel() = default;

void HistoryPanel::keyChanged(int index)
{
    m_value->setText(index == 0 ? dateKey(m_state.clock.today()) : QString());
    m_value->setFocus();
}

QString HistoryPanel::condition() const
{
    return m_key->currentText() + u' ' + m_value->text();
}

std::optional<QList<HistoryEntry>> HistoryPanel::showHistory()
{
    const auto key = HistoryKey(m_key->currentIndex());
    const QString value = m_value->text().trimmed();
    if (value.isEmpty()) {
        m_value->setFocus();
        return std::nullopt;
    }
    if ((key == HistoryKey::Day && !dateFromKey(value))
        || (key == HistoryKey::ReservationNumber && value.toInt() <= 0)) {
        m_state.dialogs.tell(key == HistoryKey::Day ? u"日付が正しくありません。見直してください。"_s
                                                    : u"予約番号は数字で入力してください。"_s);
        m_value->setFocus();
        return std::nullopt;
    }
    QList<HistoryEntry> entries;
    try {
        entries = historyOf(m_state.db, key, value);
    } catch (const DbError &error) {
        m_state.dialogs.tell(u"操作履歴を読み込めませんでした。\r\n"_s + error.message());
        return std::nullopt;
    }
    m_list->setRowCount(int(entries.size()));
    for (int row = 0; row < entries.size(); ++row) {
        const HistoryEntry &e = entries.at(row);
        // One line a row, whatever another program stored.
        const QString cells[] = {oneLine(e.when),
                                 oneLine(e.where),
                                 historyKindName(e.kind),
                                 e.yno ? QString::number(*e.yno) : QString(),
                                 e.yno ? oneLine(e.ydate + u' ' + e.ytime) + u"時"_s : QString(),
                                 oneLine(e.knm),
                                 oneLine(e.kno),
                                 historyDetailsLine(historyDetails(e))};
        for (int column = 0; column < int(Columns.size()); ++column) {
            m_list->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
        // The changes of a whole reservation run past the window's edge: all of them, line breaks kept,
        // and a name typed on the web as "<b>…" shown as typed, not as markup.
        m_list->item(row, int(Columns.size()) - 1)
            ->setToolTip(plainToolTip(historyDetails(e).replace(u"  "_s, u"\n"_s)));
    }
    m_list->resizeColumnsToContents();
    return entries;
}

void HistoryPanel::writeReport()
{
    const auto entries = showHistory();
    if (!entries) {
        return;
    }
    const QString printedAt = m_state.clock.now().toString(u"yyyy/MM/dd HH:mm"_s);
    try {
        const WrittenReport written =
            writeHistoryReport(reportFolder(m_state.startDir, m_state.config.TXTPATH),
                               historyReport(condition(), printedAt, *entries));
        if (written.replaced > 0) {
            m_state.dialogs.tell(u"Shift-JIS で表せない文字が %1 文字あったため、「〓」に置き換えて書き込みました。"
                                 u"CSV出力ではそのまま書き出します。"_s.arg(written.replaced));
        }
        m_state.viewer.showReport(written.path, m_state.clock.today().toString(u"yyyy-MM-dd"_s));
    } catch (const ReportFileError &error) {
        m_state.dialogs.tell(u"操作履歴の帳票を作成できませんでした。\r\n"_s + error.message());
    }
}

void HistoryPanel::writeCsv()
{
    const auto entries = showHistory();
    if (!entries) {
        return;
    }
    try {
        const WrittenReport written = writeHistoryCsv(reportFolder(m_state.startDir, m_state.config.TXTPATH), *entries);
        m_state.dialogs.tell(u"CSVファイルに書き出しました。\r\n"_s + QDir::toNativeSeparators(written.path));
    } catch (const ReportFileError &error) {
        m_state.dialogs.tell(u"操作履歴のCSVを作成できませんでした。\r\n"_s + error.message());
    }
}

} // namespace qrb
