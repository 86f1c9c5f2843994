#include "DBAdminScreen.h"

#include "HistoryPanel.h"

#include "config/Clock.h"
#include "screens/common/Dialogs.h"
#include "screens/common/Notices.h"
#include "screens/common/ProgramState.h"
#include "db/Database.h"
#include "db/Backup.h"
#include "db/Maintenance.h"
#include "shared/Dates.h"

#include <QGridLayout>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

constexpr int dateBoxWidth = 140;

QString crlf(const QString &text)
{
    return QString(text).replace(u"\r\n"_s, u"\n"_s).replace(u"\n"_s, u"\r\n"_s);
}

} // namespace

DBAdminScreen::DBAdminScreen(ProgramState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    setObjectName(u"frmDBAdmin"_s);
    setWindowTitle(u"DB管理"_s);

    const auto button = [this](const QString &name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setMinimumHeight(36);
        return b;
    };
    m_commands[0] = button(u"Command1(0)"_s, u"データベース最適化"_s);
    m_commands[1] = button(u"Command1(1)"_s, u"データ削除"_s);
    m_deletions[0] = button(u"Command2(0)"_s, u"すべての予約データを削除"_s);
    m_deletions[1] = button(u"Command2(1)"_s, u"期間を指定して予約データを削除"_s);
    m_historyButton = button(u"Command3"_s, u"操作履歴"_s);
    m_history = new HistoryPanel(state, this);
    m_history->hide();
    const QString labelTexts[] = {u"削除期間"_s, u"↓"_s, u"入力例） 2002/01/01"_s};
    for (int i = 0; i < 3; ++i) {
        m_labels[i] = new QLabel(labelTexts[i], this);
        m_labels[i]->setObjectName(u"Label1(%1)"_s.arg(i));
    }
    m_labels[1]->setAlignment(Qt::AlignCenter);
    for (int i = 0; i < 2; ++i) {
        m_period[i] = new QLineEdit(this);
        m_period[i]->setObjectName(u"Text1(%1)"_s.arg(i));
        m_period[i]->setMaxLength(10);
        m_period[i]->setFixedWidth(dateBoxWidth);
    }

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setHorizontalSpacing(24);
    layout->setVerticalSpacing(10);
    layout->addWidget(m_commands[0], 0, 0);
    layout->addWidget(m_commands[1], 1, 0);
    layout->addWidget(m_deletions[0], 0, 1);
    auto *period = new QVBoxLayout;
    period->setSpacing(4);
    period->addWidget(m_labels[0]);
    period->addWidget(m_period[0]);
    period->addWidget(m_labels[1], 0, Qt::AlignLeft);
    period->addWidget(m_period[1]);
    period->addWidget(m_labels[2]);
    period->addWidget(m_deletions[1]);
    layout->addLayout(period, 1, 1, 2, 1);
    layout->addWidget(m_historyButton, 2, 0, Qt::AlignTop);
    layout->addWidget(m_history, 3, 0, 1, 3);
    m_labels[1]->setFixedWidth(dateBoxWidth);
    layout->setColumnMinimumWidth(0, 240);
    layout->setColumnMinimumWidth(1, 280);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(3, 1);

    setTabOrder(m_commands[0], m_commands[1]);
    setTabOrder(m_commands[1], m_deletions[0]);
    setTabOrder(m_deletions[0], m_period[0]);
    setTabOrder(m_period[0], m_period[1]);
    setTabOrder(m_period[1], m_deletions[1]);
    setTabOrder(m_deletions[1], m_historyButton);

    connect(m_commands[0], &QPushButton::clicked, this, &DBAdminScreen::compact);
    connect(m_commands[1], &QPushButton::clicked, this, [this] { showDeletionControls(true); });
    connect(m_deletions[0], &QPushButton::clicked, this, &DBAdminScreen::deleteAll);
    connect(m_deletions[1], &QPushButton::clicked, this, &DBAdminScreen::deletePeriod);
    connect(m_historyButton, &QPushButton::clicked, this, [this] {
        m_history->show();
        m_history->showHistory();
    });

    showDeletionControls(false);
}

DBAdminScreen::~DBAdminScreen() = default;

void DBAdminScreen::showDeletionControls(bool visible)
{
    for (QPushButton *b : m_deletions) {
        b->setVisible(visible);
    }
    for (QLabel *label : m_labels) {
        label->setVisible(visible);
    }
    for (QLineEdit *box : m_period) {
        box->clear();
        box->setVisible(visible);
    }
}

void DBAdminScreen::compact()
{
    showDeletionControls(false);
    if (!m_state.dialogs.askDestructive(u"データベースの最適化を行います。\r\n\r\n"
                             u"他端末で本システムを使用中の時は、終了してください。\r\n"
                             u"ＯＫを押すと最適化を始めます。"_s)) {
        return;
    }
    Database &db = m_state.db;
    // The database the program has open, file or server, is the one compacted and opened again.
    const DbTarget target = db.target();
    QString failure;
    try {
        db.DB_close();
        db.DB_compact(target);
    } catch (const DbError &error) {
        failure = u"データベースの最適化ができませんでした。\r\n"_s + crlf(error.message());
    }
    // Whether the compaction went through or not, the program goes on with its database open again.
    try {
        db.DB_open(target);
    } catch (const DbError &reopen) {
        const QString notReopened = u"データベースを開き直せませんでした。\r\n"_s + crlf(reopen.message())
                                    + u"\r\nプログラムを終了し、原因を取り除いてから起動し直してください。"_s;
        m_state.dialogs.tell(failure.isEmpty() ? QString(u"最適化は終了しましたが、"_s + notReopened)
                                               : QString(failure + u"\r\n\r\n"_s + notReopened));
        return;
    }
    m_state.dialogs.tell(failure.isEmpty() ? u"最適化が終了いたしました。"_s : failure);
}

void DBAdminScreen::deleteAll()
{
    if (!m_state.dialogs.askDestructive(u"予約データの削除を行います。\r\n\r\n"
                             u"すべての予約データを削除します。\r\n"
                             u"一旦、削除すると復元はできません。\r\n"
                             u"他端末で本システムを使用中の時は、終了してください。\r\n"
                             u"後悔しない方は、ＯＫを押してください。"_s)) {
        return;
    }
    YOYAKU_all_delete();
}

void DBAdminScreen::YOYAKU_all_delete()
{
    runDeletion(u"すべての予約データを削除いたしました。"_s,
                [this] { return deleteAllReservations(m_state.db, m_state.clock.now()); });
}

void DBAdminScreen::deletePeriod()
{
    // Only real dates written as stored reach the deletion, which asks no question and cannot be undone.
    for (QLineEdit *box : m_period) {
        if (box->text().isEmpty()) {
            box->setFocus();
            return;
        }
        if (!dateFromKey(box->text())) {
            m_state.dialogs.tell(u"日付が正しくありません。見直してください。"_s);
            box->setFocus();
            return;
        }
    }
    // A period that ends before it begins holds no day: nothing to copy, nothing to delete.
    if (*dateFromKey(m_period[0]->text()) > *dateFromKey(m_period[1]->text())) {
        m_state.dialogs.tell(u"削除期間の始めの日付が終わりの日付より後です。見直してください。"_s);
        m_period[0]->setFocus();
        return;
    }
    YOYAKU_period_delete();
}

void DBAdminScreen::YOYAKU_period_delete()
{
    runDeletion(u"指定期間内の予約データを削除いたしました。"_s, [this] {
        return deleteReservationsBetween(m_state.db, m_period[0]->text(), m_period[1]->text(), m_state.clock.now());
    });
}

void DBAdminScreen::runDeletion(const QString &done, const std::function<Deletion()> &deletion)
{
    Deletion deleted;
    try {
        deleted = deletion();
    } catch (const BackupError &error) {
        tellFailure(u"削除の前のバックアップができなかったため、削除を中止しました。予約データはそのままです。"_s,
                    error.message());
        return;
    } catch (const DbError &error) {
        tellFailure(u"予約データを削除できませんでした。予約データはそのままです。"_s, error.message());
        return;
    }
    const QString backup = deleted.backup.value_or(QString());
    m_state.notices.post(deletedNotice(deleted.count, backup));
    // The deletion's message says where the data went, so that it can be restored from there.
    m_state.dialogs.tell(done + (backup.isEmpty() ? QString()
                                                  : u"\r\n\r\n削除前のデータのバックアップ:\r\n"_s
                                                        + QDir::toNativeSeparators(backup)));
}

void DBAdminScreen::tellFailure(const QString &doing, const QString &reason)
{
    m_state.dialogs.tell(doing + u"\r\n"_s + crlf(reason));
}

} // namespace qrb
