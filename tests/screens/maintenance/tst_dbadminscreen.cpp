#include "db/History.h"
#include "screens/maintenance/DBAdminScreen.h"
#include "shared/Cp932.h"

#include "support/Common.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace qrb::test;

namespace {

// The questions are told apart by how they begin; the results are compared whole.
const QString compactDone = u"最適化が終了いたしました。"_s;
const QString compactFailed = u"データベースの最適化ができませんでした。\r\n"_s;
const QString deleteAllDone = u"すべての予約データを削除いたしました。"_s;
const QString periodDone = u"指定期間内の予約データを削除いたしました。"_s;

// The copy a deletion writes first, named after the workspace clock's moment.
const QString backupName = u"/backup/yoyaku_20091009_103000.db"_s;

enum Hazard { None, DatabaseGone, TableGone };

} // namespace

class DBAdminScreenTest final : public QObject
{
    Q_OBJECT

private slots:
    void compaction_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("hazard");
        QTest::addColumn<QString>("told");     // how the last message begins; empty: only the question
        QTest::addColumn<QString>("contains"); // and what it names
        QTest::newRow("compacted") << true << int(None) << compactDone << compactDone;
        QTest::newRow("cancelled") << false << int(None) << QString() << QString();
        QTest::newRow("database gone") << true << int(DatabaseGone) << compactFailed
                                       << u"データベースを開き直せませんでした。"_s;
        // A copy that does not open as a database of both tables never replaces the file.
        QTest::newRow("a copy without a table replaces nothing")
            << true << int(TableGone) << compactFailed << u"データベースは元のままです。"_s;
    }

    void compaction()
    {
        QFETCH(bool, answer);
        QFETCH(int, hazard);
        QFETCH(QString, told);
        QFETCH(QString, contains);
        Workspace ws;
        if (hazard == TableGone && ws.onPostgres()) {
            QSKIP("the server vacuums both tables by name: a database without one is not compacted either");
        }
        for (int i = 0; i < 50; ++i) {
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田"_s);
        }
        ws.db.write(u"DELETE FROM YOYAKU WHERE YNO > 10"_s);
        const qrb::DbTarget target = ws.target();
        if (hazard == TableGone) {
            ws.db.write(u"DROP TABLE SETTING"_s);
        } else if (hazard == DatabaseGone && target.postgres) {
            ws.scratch->runOnServer(u"DROP DATABASE %1 WITH (FORCE)"_s.arg(target.postgres->dbname));
        } else if (hazard == DatabaseGone) {
            QVERIFY(QFile::rename(ws.dbPath(), ws.dbPath() + u".moved"_s));
        }
        ws.dialogs.answers = {answer};
        qrb::DBAdminScreen s(*ws.state);
        showActive(&s);
        click(&s, u"Command1(1)"_s);
        typeInto(control(&s, u"Text1(0)"_s), u"2009/10/09"_s);
        click(&s, u"Command1(0)"_s);
        QVERIFY(ws.dialogs.messages.first().question &&
                ws.dialogs.texts().first().startsWith(u"データベースの最適化を行います。"_s));
        QCOMPARE(ws.dialogs.messages.size(), told.isEmpty() ? 1 : 2);
        const QString message = ws.dialogs.messages.last().text;
        QVERIFY2(message.startsWith(told) && message.contains(contains), qPrintable(message));
        if (hazard == DatabaseGone || hazard == TableGone) {
            // The program goes on: a deletion now says that it could not run.
            QVERIFY(!ws.db.isOpen());
            ws.dialogs.clear();
            click(&s, u"Command1(1)"_s);
            click(&s, u"Command2(0)"_s);
            QCOMPARE(ws.dialogs.messages.size(), 2);
            QVERIFY(!ws.dialogs.texts().contains(deleteAllDone));
            return;
        }
        QCOMPARE(stored(ws.db, u"YNO"_s).size(), 10);
    }

    // All, or a period typed into the two boxes; a deletion is copied first, asks only when it is of all,
    // and refuses a period that is no period, deleting nothing and copying nothing.
    void deletion_data()
    {
        QTest::addColumn<QString>("first"); // "all" for すべての予約データを削除
        QTest::addColumn<QString>("last");  // for all: the answer, "OK" or "Cancel"
        QTest::addColumn<QString>("told");  // the result, or how a refusal begins; empty: none told
        QTest::addColumn<int>("focus");     // the box the cursor is put back into, -1 for none
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<bool>("blocked"); // a file where the copies' folder goes: refused where a copy is due
        const QString p = u"2009/10/09"_s;
        const QStringList all = {u"2009/09/30"_s, p, p, u"2009/10/10"_s, u"2009/11/01"_s};
        QTest::newRow("all") << u"all"_s << u"OK"_s << deleteAllDone << -1 << QStringList{} << false;
        QTest::newRow("all, cancelled") << u"all"_s << u"Cancel"_s << QString() << -1 << all << false;
        QTest::newRow("both month ends included") << u"2009/10/01"_s << u"2009/10/31"_s << periodDone << -1
                                                  << QStringList{u"2009/09/30"_s, u"2009/11/01"_s} << false;
        QTest::newRow("first after last") << u"2009/10/10"_s << p << u"削除期間の始めの日付が"_s << 0 << all << false;
        QTest::newRow("first empty") << QString() << p << QString() << 0 << all << false;
        QTest::newRow("first without zeros")
            << u"2009/1/9"_s << p << u"日付が正しくありません。"_s << 0 << all << false;
        QTest::newRow("last empty") << p << QString() << QString() << 1 << all << false;
        QTest::newRow("all, no copy possible") << u"all"_s << u"OK"_s << deleteAllDone << -1 << QStringList{} << true;
        QTest::newRow("a period, no copy possible") << u"2009/10/01"_s << u"2009/10/31"_s << periodDone << -1
                                                    << QStringList{u"2009/09/30"_s, u"2009/11/01"_s} << true;
    }

    void deletion()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, told);
        QFETCH(int, focus);
        QFETCH(QStringList, left);
        QFETCH(bool, blocked);
        Workspace ws;
        int i = 0;
        for (const QString &day :
             {u"2009/10/09"_s, u"2009/09/30"_s, u"2009/10/10"_s, u"2009/10/09"_s, u"2009/11/01"_s}) {
            ws.addReservation(day, ++i % 2 ? u"08"_s : u"17"_s, u"山田"_s);
        }
        // On the server no copy is written, so the folder stops nothing there.
        if (blocked && !ws.onPostgres()) {
            told = u"削除の前のバックアップができなかったため、削除を中止しました。"_s;
            left = stored(ws.db, u"YDATE"_s);
            left.sort();
        }
        QVERIFY(!blocked || writeFileBytes(ws.folder() + u"/backup"_s, {}));
        ws.dialogs.answers = {last == u"OK"_s};
        qrb::DBAdminScreen s(*ws.state);
        showActive(&s);
        QVERIFY(!control(&s, u"Command2(0)"_s)->isVisible());
        click(&s, u"Command1(1)"_s);
        if (first == u"all"_s) {
            click(&s, u"Command2(0)"_s);
            QVERIFY(ws.dialogs.messages.first().question &&
                    ws.dialogs.texts().first().startsWith(u"予約データの削除を行います。"_s));
        } else {
            typeInto(control(&s, u"Text1(0)"_s), first);
            typeInto(control(&s, u"Text1(1)"_s), last);
            click(&s, u"Command2(1)"_s);
            QVERIFY(std::none_of(ws.dialogs.messages.begin(), ws.dialogs.messages.end(),
                                 [](const auto &m) { return m.question; }));
        }
        const bool done = told == periodDone || told == deleteAllDone;
        const QString said =
            ws.dialogs.messages.size() < (first == u"all"_s ? 2 : 1) ? QString() : ws.dialogs.texts().last();
        const QString copyNamed = u"\r\n\r\n削除前のデータのバックアップ:\r\n"_s + ws.folder() + backupName;
        QVERIFY2(done ? said == told + (ws.onPostgres() ? QString() : copyNamed)
                      : said.startsWith(told) && (told.isEmpty() == said.isEmpty()),
                 qPrintable(said));
        if (focus >= 0) {
            QCOMPARE(QApplication::focusWidget(), control(&s, u"Text1(%1)"_s.arg(focus)));
        }
        QStringList remaining = stored(ws.db, u"YDATE"_s);
        remaining.sort();
        QCOMPARE(remaining, left);
        const bool copied = left.size() < 5 && !ws.onPostgres();
        // The copy is there when one was due; otherwise not even the folder is made.
        QVERIFY(blocked || QFileInfo::exists(ws.folder() + (copied ? backupName : u"/backup"_s)) == copied);
        if (copied && first == u"all"_s) {
            qrb::Database copy(u"copy"_s);
            copy.DB_open(ws.folder() + backupName);
            QCOMPARE(stored(copy, u"YNO"_s).size(), 5);
        }
        QVERIFY(control(&s, u"Command2(1)"_s)->isVisible());
    }

    // The history of changes as the desk reads it here: the list, the text report in the viewer and
    // the CSV show what was recorded, codes in words; a name as a patient typed it on the web, never
    // as markup.
    void historyShowsWhatWasRecorded()
    {
        Workspace ws(3);
        ws.db.setActor(u"受付1 田中"_s);
        qrb::BookingRecord booking = bookingOf(u"山田 太郎"_s, u"2009/10/09"_s, u"10"_s, u"77"_s);
        booking.biko = u"卵アレルギー, \"軽度\"\n要観察"_s;
        booking.bflg = 0;
        registerReservation(ws.db, booking, qrb::WhenFull::Overbook);
        cancelReservation(ws.db, u"2009/10/09"_s, u"10"_s, u"山田 太郎"_s);
        const QList<qrb::HistoryEntry> recorded = historyOf(ws.db, qrb::HistoryKey::PatientNumber, u"77"_s);
        QCOMPARE(recorded.size(), 2);

        qrb::DBAdminScreen screen(*ws.state);
        showActive(&screen);
        click(&screen, u"Command3"_s);
        auto *list = control<QTableWidget>(&screen, u"ListView1"_s);
        auto *value = control<QLineEdit>(&screen, u"Text2"_s);
        // The desk's today, on which nothing was changed.
        QVERIFY(list->isVisible() && value->text() == u"2009/10/09"_s && list->rowCount() == 0);
        // The changes of the real day, newest first.
        typeInto(value, recorded.first().when.left(10));
        click(&screen, u"Command4(0)"_s);
        QCOMPARE(list->rowCount(), 2);
        QCOMPARE(list->item(0, 2)->text() + list->item(1, 2)->text() + list->item(1, 1)->text(),
                 u"取消登録受付1 田中"_s);
        QVERIFY(list->item(1, 7)->text().contains(u"  暦=西暦  "_s));
        QVERIFY(list->item(1, 7)->text().contains(u"備考=卵アレルギー, \"軽度\" / 要観察"_s));

        // By name, typed through the input method, Enter to show.
        auto *key = control<QComboBox>(&screen, u"Combo1"_s);
        key->setFocus();
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(key, Qt::Key_Down);
        }
        QCOMPARE(key->currentText() + value->text(), u"氏名"_s);
        typeInto(value, u"山田\n"_s, false);
        QCOMPARE(list->rowCount(), 2);

        click(&screen, u"Command4(1)"_s);
        QCOMPARE(ws.viewer.shown.size(), 1);
        const QString report = qrb::decodeCp932(fileBytes(ws.viewer.shown.first()));
        QVERIFY2(report.startsWith(u"操作履歴　　氏名 山田　　出力 2009/10/09 10:30\r\n"_s), qPrintable(report));
        QVERIFY(report.contains(recorded.first().when + u"  取消"_s + QString(10, u' ') +
                                u"予約番号 1  端末 受付1 田中\r\n    2009/10/09 10時  山田 太郎  患者番号 77\r\n"_s));
        QVERIFY(report.contains(u"  備考=卵アレルギー, \"軽度\" / 要観察  "_s));
        QVERIFY(report.endsWith(u"全 2 件\r\n"_s));

        click(&screen, u"Command4(2)"_s);
        const QString csvPath = ws.folder() + u"/reports/操作履歴.csv"_s;
        QCOMPARE(ws.dialogs.texts().last(), u"CSVファイルに書き出しました。\r\n"_s + csvPath);
        const QByteArray csv = fileBytes(csvPath);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QString text = QString::fromUtf8(csv.mid(3));
        QVERIFY(text.startsWith(
            u"番号,日時,端末,操作,予約番号,予約日,時間,患者番号,氏名,件数,期間開始,期間終了,内容\r\n"_s));
        const QString registered =
            u"%1,%2,受付1 田中,登録,1,2009/10/09,10,77,山田 太郎,,,,\"患者番号=77  "_s.arg(recorded.last().hno)
                .arg(recorded.last().when);
        QVERIFY2(text.contains(registered), qPrintable(text));
        QVERIFY(text.contains(u"備考=卵アレルギー, \"\"軽度\"\"\n要観察  種別=季節性  回数=1回目  来院=未来院"_s));

        registerReservation(ws.db, bookingOf(u"<b>髙橋</b>"_s), qrb::WhenFull::Overbook);
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(key, Qt::Key_Up);
        }
        typeInto(value, recorded.first().when.left(10));
        click(&screen, u"Command4(0)"_s);
        QCOMPARE(list->rowCount(), 3);
        QCOMPARE(list->item(0, 5)->text(), u"<b>髙橋</b>"_s);
        QCOMPARE(toolTipShows(list->item(0, 7)->toolTip()).section(u'\n', 0, 1),
                 u"氏名=<b>髙橋</b>\n予約日=2009/10/09"_s);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    DBAdminScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dbadminscreen.moc"
