#include "app/window/MainWindow.h"
#include "screens/common/Notices.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace Qt::StringLiterals;
using namespace qrb;

class MainWindowTest : public QObject
{
    Q_OBJECT

    // The notice in full, as its tooltip shows it (the panel itself may cut it short).
    static QString notice(MainWindow &window)
    {
        return test::toolTipShows(window.findChild<QLabel *>(u"StatusNotice"_s)->toolTip());
    }

private slots:
    void initTestCase() { QVERIFY(installJapaneseTranslations(*QCoreApplication::instance())); }

    // The real message boxes, answered with the keys a receptionist presses; what they say (names as
    // stored among it) is plain text, never markup.
    void questionsDefaultAsTheirRiskDemands_data()
    {
        QTest::addColumn<bool>("destructive");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("answer");
        QTest::newRow("plain question, Enter is OK") << false << int(Qt::Key_Return) << true;
        QTest::newRow("plain question, Escape is Cancel") << false << int(Qt::Key_Escape) << false;
        QTest::newRow("deleting question, Enter is Cancel") << true << int(Qt::Key_Return) << false;
        QTest::newRow("deleting question, Escape is Cancel") << true << int(Qt::Key_Escape) << false;
    }
    void questionsDefaultAsTheirRiskDemands()
    {
        QFETCH(bool, destructive);
        QFETCH(int, key);
        QFETCH(bool, answer);
        MessageBoxDialogs dialogs;
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            seen << box->button(QMessageBox::Cancel)->text() << box->button(QMessageBox::Ok)->text()
                 << QString::number(box->icon() == QMessageBox::Warning) << box->text()
                 << QString::number(box->textFormat());
            QTest::keyClick(box, Qt::Key(key));
        });
        const QString text = u"<b>髙橋</b>さんの予約を"_s + (destructive ? u"削除します。"_s : u"変更します。"_s);
        QCOMPARE(destructive ? dialogs.askDestructive(text) : dialogs.ask(text), answer);
        QCOMPARE(seen, (QStringList{u"キャンセル"_s, u"OK"_s, QString::number(destructive), text,
                                    QString::number(Qt::PlainText)}));
    }

    // The window opens on the help screen with the date and time below; the nine menu entries, each
    // without a submenu, open their screens in order with F1…F8, one screen at a time, maximised.
    void theWindowOpensOnHelpAndTheKeysOpenTheMenu()
    {
        test::Workspace ws;
        ws.clock.at = QDateTime(QDate(2009, 10, 9), QTime(20, 40, 12));
        MainWindow window(*ws.state);
        QCOMPARE(window.windowTitle(), u"QRB"_s);
        const auto panels = [&] {
            QStringList texts;
            for (QLabel *label : window.statusBar()->findChildren<QLabel *>()) {
                texts << label->text();
            }
            return texts;
        };
        QCOMPARE(panels(), (QStringList{u"ｽﾃｰﾀｽ"_s, QString(), u"2009/10/09"_s, u"20:40"_s}));
        ws.clock.at = QDateTime(QDate(2009, 10, 10), QTime(0, 1));
        window.refreshStatusBar();
        QCOMPARE(panels(), (QStringList{u"ｽﾃｰﾀｽ"_s, QString(), u"2009/10/10"_s, u"00:01"_s}));
        QPointer<QWidget> help = window.currentScreen();
        QCOMPARE(help->objectName() + help->windowTitle(), u"frmHELPHELP"_s);
        // Reports open in the program's own viewer, not in an editor.
        QCOMPARE(help->findChild<QLabel *>(u"Label2(6)"_s)->text(),
                 u"　(5)帳　　票：日報・未来院・月報を出力し、本プログラムの帳票画面で表示します。"_s);

        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QStringList entries;
        for (QAction *action : window.menuBar()->actions()) {
            entries << action->objectName() + u' ' + action->text();
            QVERIFY(action->menu() == nullptr);
        }
        QCOMPARE(entries, (QStringList{u"mnu予約登録 予約登録"_s, u"mnu検索 検索"_s, u"mnu来院記録 来院記録"_s,
                                       u"mnu予約状況 予約状況"_s, u"mnu帳票 帳票"_s, u"mnu設定 設定"_s,
                                       u"mnuHELP HELP"_s, u"mnuDB管理 DB管理"_s, u"mnu終了 プログラム終了"_s}));
        const QStringList screens{u"frmYoyaku"_s, u"frmSearch"_s,  u"frmRaiin"_s, u"frmKakunin"_s,
                                  u"frmNote"_s,   u"frmSetting"_s, u"frmHELP"_s,  u"frmDBAdmin"_s};
        for (int i = 0; i < screens.size(); ++i) {
            QTest::keyClick(&window, Qt::Key(Qt::Key_F1 + i));
            QCOMPARE(window.currentScreen()->objectName(), screens[i]);
            QVERIFY(window.menuBar()->actions()[i]->toolTip().endsWith(u"（F%1）"_s.arg(i + 1)));
            // Maximised without a frame: no minimise, restore or close buttons beside the menu.
            QVERIFY(window.menuBar()->cornerWidget(Qt::TopRightCorner) == nullptr);
            const QList<QMdiSubWindow *> open = window.findChild<QMdiArea *>()->subWindowList();
            QVERIFY(open.size() == 1 && open.first()->isMaximized());
        }
        QVERIFY(help.isNull());

        // F9 asks to end: Cancel leaves the program and its screen as they were, OK closes both and the
        // database.
        QWidget *screen = window.currentScreen();
        ws.dialogs.answers = {false, true};
        QTest::keyClick(&window, Qt::Key_F9);
        QVERIFY(window.isVisible() && window.currentScreen() == screen && ws.db.isOpen());
        QTest::keyClick(&window, Qt::Key_F9);
        QCOMPARE(ws.dialogs.texts(), QStringList(2, u"プログラムを終了します。\r\nよろしいですか？"_s));
        QVERIFY(ws.dialogs.messages.first().question && ws.dialogs.messages.first().title.isEmpty());
        QVERIFY(!window.isVisible() && window.currentScreen() == nullptr && !ws.db.isOpen());
    }

    // A booking typed at the desk is told in the status bar; the month grid marks the slot it filled,
    // and a double-click on another cell checks that slot as 確認 does.
    void aBookingIsToldAndItsFullSlotMarked_data()
    {
        QTest::addColumn<bool>("pair");
        QTest::addColumn<QString>("told");
        QTest::newRow("one dose") << false << u"予約を登録しました：山田　2009/10/09 10時（予約番号 2）"_s;
        QTest::newRow("新型 pair")
            << true
            << u"予約を登録しました：山田　2009/10/09 10時（予約番号 2）・2回目 2009/10/30 10時（予約番号 3）"_s;
    }
    void aBookingIsToldAndItsFullSlotMarked()
    {
        QFETCH(bool, pair);
        QFETCH(QString, told);
        test::Workspace ws(1);
        ws.addReservation(u"2009/10/20"_s, u"14"_s, u"佐藤"_s);
        MainWindow window(*ws.state);
        test::showActive(&window);
        QTest::keyClick(&window, Qt::Key_F1);
        const auto book = [&] {
            test::click(window.currentScreen(), u"Text1(0)"_s); // a new entry begins with a click into the name
            test::typeInto(test::control(window.currentScreen(), u"Text1(0)"_s), u"山田"_s, false);
            if (pair) {
                test::click(window.currentScreen(), u"Option3(1)"_s);
            }
            test::click(window.currentScreen(), u"Command1(0)"_s);
        };
        book();
        QCOMPARE(notice(window), told);
        auto *grid = test::control<QTreeWidget>(window.currentScreen(), u"ListView1"_s);
        const auto mark = [&](int row, int hour) { return grid->topLevelItem(row)->background(hour - 7); };
        QVERIFY(mark(0, 9).style() == Qt::NoBrush && mark(0, 10).style() == Qt::SolidPattern);
        const QColor full = mark(0, 10).color();
        book(); // the same patient again overwrites; a second name over-books after a warning
        QCOMPARE(notice(window), QString(told).replace(u"登録"_s, u"更新"_s));
        QCOMPARE(mark(0, 10).color(), full);
        ws.db.write(u"UPDATE YOYAKU SET KNM = '田中' WHERE YNO = 2"_s);
        book();
        QVERIFY(ws.dialogs.messages.last().destructive);
        QVERIFY(mark(0, 10).color() != full && mark(0, 10).style() == Qt::SolidPattern);

        auto *timer = window.findChild<QTimer *>(u"NoticeTimer"_s);
        QVERIFY(timer->isActive() && timer->interval() == MainWindow::NoticeMilliseconds);
        timer->start(0);
        QTRY_VERIFY(notice(window).isEmpty());

        QTest::keyClick(&window, Qt::Key_F1);
        grid = test::control<QTreeWidget>(window.currentScreen(), u"ListView1"_s);
        grid->scrollToItem(grid->topLevelItem(11));
        const QPoint cell(grid->columnViewportPosition(7) + 4,
                          grid->visualItemRect(grid->topLevelItem(11)).center().y());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell); // a double-click begins with a press
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
        QCOMPARE(
            test::shows(window.currentScreen(),
                        {u"Combo1(0)"_s, u"Combo1(1)"_s, u"Combo1(2)"_s, u"Combo1(3)"_s, u"Label3(0)"_s}),
            (QStringList{u"2009"_s, u"10"_s, u"20"_s, u"14"_s, u"現在の予約人数：1人    予約可能人数：あと0人"_s}));
        QCOMPARE(test::control<QListWidget>(window.currentScreen(), u"List1"_s)->item(0)->text(), u"佐藤"_s);
    }

    // Return on a focused button presses it on every screen: here ⇔ of 来院記録 and 登録・修正 of
    // 設定. A notice longer than the status bar (a name of 80 characters from the web) is cut with
    // "…" instead of widening the window, and shows the name as typed, markup and all.
    void returnPressesAndALongNoticeIsCut()
    {
        test::Workspace ws;
        const QString name = u"<b>髙橋</b>"_s + QString(80, u'長');
        ws.addReservation(u"2009/10/09"_s, u"10"_s, name);
        MainWindow window(*ws.state);
        test::showActive(&window);
        window.resize(640, 480);
        QTest::keyClick(&window, Qt::Key_F3);
        test::clickLine(test::control<QListWidget>(window.currentScreen(), u"List1"_s), 0);
        QWidget *move = test::control(window.currentScreen(), u"Command1"_s);
        move->setFocus(Qt::TabFocusReason);
        QTest::keyClick(move, Qt::Key_Return);
        QCOMPARE(test::stored(ws.db, u"CFLG"_s), QStringList{u"1"_s});
        QCOMPARE(notice(window), u"来院済みにしました："_s + name);
        auto *panel = window.findChild<QLabel *>(u"StatusNotice"_s);
        QApplication::processEvents();
        QVERIFY2(panel->text().endsWith(u'…') && panel->textFormat() == Qt::PlainText, qPrintable(panel->text()));
        QCOMPARE(window.width(), 640);

        QTest::keyClick(&window, Qt::Key_F6);
        QWidget *save = test::control(window.currentScreen(), u"Command1"_s);
        save->setFocus(Qt::TabFocusReason);
        QTest::keyClick(save, Qt::Key_Return);
        QCOMPARE(notice(window), u"予約可能人数を保存しました。"_s);
        QCOMPARE(panel->text(), u"予約可能人数を保存しました。"_s);
        QVERIFY(ws.dialogs.messages.isEmpty());
    }

    // Deleting is asked with Cancel as the default, and told with how many went and where the copy is.
    void aDeletionIsAskedWithCareAndTold()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"10"_s, u"山田"_s);
        ws.addReservation(u"2009/10/10"_s, u"11"_s, u"佐藤"_s);
        MainWindow window(*ws.state);
        test::showActive(&window);
        QTest::keyClick(&window, Qt::Key_F8);
        test::click(window.currentScreen(), u"Command1(1)"_s);
        test::click(window.currentScreen(), u"Command2(0)"_s);
        QVERIFY(ws.dialogs.messages.first().destructive);
        QVERIFY(notice(window).startsWith(u"予約データを 2 件削除しました。"_s));
        QCOMPARE(notice(window).contains(u"削除前のバックアップ："_s + ws.folder() + u"/backup/yoyaku_"_s),
                 !ws.onPostgres());
        ws.dialogs.answers = {false};
        test::click(window.currentScreen(), u"Command1(0)"_s);
        QVERIFY(ws.dialogs.messages.last().destructive);
        // The close box ends without asking, closing the screen and the database.
        const qsizetype asked = ws.dialogs.messages.size();
        window.close();
        QVERIFY(ws.dialogs.messages.size() == asked && window.currentScreen() == nullptr && !ws.db.isOpen());
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
