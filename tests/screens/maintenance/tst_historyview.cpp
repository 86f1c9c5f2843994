// The history of changes as the desk reads it on the maintenance screen: the list, the text report
// in the viewer and the CSV show what was recorded.
#include "db/Booking.h"
#include "db/History.h"
#include "screens/maintenance/DBAdminScreen.h"
#include "shared/Cp932.h"
#include "support/Common.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class HistoryViewTest final : public QObject
{
    Q_OBJECT

private slots:
    void viewReportAndCsvShowWhatWasRecorded()
    {
        test::Workspace ws(3);
        ws.db.setActor(u"受付1 田中"_s);
        BookingRecord booking = test::bookingOf(u"山田 太郎"_s, u"2009/10/09"_s, u"10"_s, u"77"_s);
        booking.biko = u"卵アレルギー, \"軽度\"\n要観察"_s;
        registerReservation(ws.db, booking, WhenFull::Overbook);
        cancelReservation(ws.db, u"2009/10/09"_s, u"10"_s, u"山田 太郎"_s);
        const QList<HistoryEntry> recorded = historyOf(ws.db, HistoryKey::PatientNumber, u"77"_s);
        QCOMPARE(recorded.size(), 2);

        DBAdminScreen screen(*ws.state);
        test::showActive(&screen);
        test::click(&screen, u"Command3"_s);
        auto *list = screen.findChild<QTableWidget *>(u"ListView1"_s);
        auto *value = screen.findChild<QLineEdit *>(u"Text2"_s);
        // The desk's today, on which nothing was changed.
        QVERIFY(list->isVisible() && value->text() == u"2009/10/09"_s && list->rowCount() == 0);

        // The changes of the real day, newest first.
        test::typeInto(value, recorded.first().when.left(10));
        test::click(&screen, u"Command4(0)"_s);
        QCOMPARE(list->rowCount(), 2);
        QCOMPARE(list->item(0, 2)->text() + list->item(1, 2)->text() + list->item(1, 1)->text(),
                 u"取消登録受付1 田中"_s);
        QVERIFY(list->item(1, 7)->text().contains(u"備考=卵アレルギー, \"軽度\" / 要観察"_s));

        // By name, typed through the input method, Enter to show.
        auto *key = screen.findChild<QComboBox *>(u"Combo1"_s);
        key->setFocus();
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(key, Qt::Key_Down);
        }
        QCOMPARE(key->currentText(), u"氏名"_s);
        QVERIFY(value->text().isEmpty());
        test::typeInto(value, u"山田\n"_s, false);
        QCOMPARE(list->rowCount(), 2);

        test::click(&screen, u"Command4(1)"_s);
        QCOMPARE(ws.viewer.shown.size(), 1);
        const QString report = decodeCp932(qrb::test::fileBytes(ws.viewer.shown.first()));
        QVERIFY2(report.startsWith(u"操作履歴　　氏名 山田　　出力 2009/10/09 10:30\r\n"_s), qPrintable(report));
        QVERIFY(report.contains(recorded.first().when + u"  取消"_s + QString(10, u' ') +
                                u"予約番号 1  端末 受付1 田中\r\n"_s +
                                u"    2009/10/09 10時  山田 太郎  患者番号 77\r\n"_s));
        QVERIFY(report.contains(u"  備考=卵アレルギー, \"軽度\" / 要観察  "_s));
        QVERIFY(report.endsWith(u"全 2 件\r\n"_s));

        test::click(&screen, u"Command4(2)"_s);
        const QString csvPath = ws.folder() + u"/reports/操作履歴.csv"_s;
        QCOMPARE(ws.dialogs.texts().last(), u"CSVファイルに書き出しました。\r\n"_s + csvPath);
        const QByteArray csv = qrb::test::fileBytes(csvPath);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QString text = QString::fromUtf8(csv.mid(3));
        QVERIFY(text.startsWith(
            u"番号,日時,端末,操作,予約番号,予約日,時間,患者番号,氏名,件数,期間開始,期間終了,内容\r\n"_s));
        const QString registered =
            u"%1,%2,受付1 田中,登録,1,2009/10/09,10,77,山田 太郎,,,,\"患者番号=77  "_s.arg(recorded.last().hno)
                .arg(recorded.last().when);
        QVERIFY2(text.contains(registered), qPrintable(text));
        QVERIFY(text.contains(u"備考=卵アレルギー, \"\"軽度\"\"\n要観察  種別=1"_s));
    }
};

QTEST_MAIN(HistoryViewTest)
#include "tst_historyview.moc"
