#include "app/window/MainWindow.h"
#include "screens/common/Notices.h"
#include "support/Workspace.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class MainWindowTest : public QObject
{
    Q_OBJECT

    static QAction *entry(MainWindow &window, const QString &name)
    {
        return window.findChild<QAction *>(name);
    }
    template<class W> static W *control(MainWindow &window, const QString &name)
    {
        return window.currentScreen()->findChild<W *>(name);
    }
    // Near the left edge, where an option's circle and caption are however wide its row is.
    static void click(QWidget *widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(8, widget->height() / 2)); }
    static QString notice(MainWindow &window) { return window.findChild<QLabel *>(u"StatusNotice"_s)->text(); }

private slots:
    void initTestCase() { QVERIFY(installJapaneseTranslations(*QCoreApplication::instance())); }

    // The real message boxes, answered with the keys a receptionist presses.
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
                 << QString::number(box->icon() == QMessageBox::Warning);
            QTest::keyClick(box, Qt::Key(key));
        });
        QCOMPARE(destructive ? dialogs.askDestructive(u"削除します。"_s) : dialogs.ask(u"終了します。"_s), answer);
        QCOMPARE(seen, (QStringList{u"キャンセル"_s, u"OK"_s, QString::number(destructive)}));
    }

    void functionKeysOpenTheEntriesInMenuOrder()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QStringList screens{u"frmYoyaku"_s, u"frmSearch"_s, u"frmRaiin"_s, u"frmKakunin"_s,
                                  u"frmNote"_s,   u"frmSetting"_s, u"frmHELP"_s, u"frmDBAdmin"_s};
        for (int i = 0; i < screens.size(); ++i) {
            QTest::keyClick(&window, Qt::Key(Qt::Key_F1 + i));
            QCOMPARE(window.currentScreen()->objectName(), screens[i]);
            QVERIFY(window.menuBar()->actions()[i]->toolTip().endsWith(u"（F%1）"_s.arg(i + 1)));
            // Maximised without a frame: no minimise, restore or close buttons beside the menu.
            QVERIFY(window.menuBar()->cornerWidget(Qt::TopRightCorner) == nullptr);
        }
        // F9 asks to end; Cancel leaves the program and its screen as they were.
        ws.dialogs.answers = {false};
        QWidget *screen = window.currentScreen();
        QTest::keyClick(&window, Qt::Key_F9);
        QCOMPARE(ws.dialogs.texts(), QStringList{u"プログラムを終了します。\r\nよろしいですか？"_s});
        QVERIFY(ws.dialogs.messages.first().question && ws.dialogs.messages.first().title.isEmpty());
        QVERIFY(window.isVisible() && window.currentScreen() == screen && ws.db.isOpen());
    }

    // A booking typed at the desk is told in the status bar; the month grid marks the slot it filled,
    // and a double-click on another cell checks that slot as 確認 does.
    void aBookingIsToldAndItsFullSlotMarked_data()
    {
        QTest::addColumn<bool>("pair");
        QTest::addColumn<QString>("told");
        QTest::newRow("one dose") << false << u"予約を登録しました：山田　2009/10/09 10時（予約番号 2）"_s;
        QTest::newRow("新型 pair") << true
                                 << u"予約を登録しました：山田　2009/10/09 10時（予約番号 2）・2回目 2009/10/30 10時（予約番号 3）"_s;
    }
    void aBookingIsToldAndItsFullSlotMarked()
    {
        QFETCH(bool, pair);
        QFETCH(QString, told);
        test::Workspace ws(1);
        ws.addReservation(u"2009/10/20"_s, u"14"_s, u"佐藤"_s);
        MainWindow window(*ws.state);
        window.resize(1024, 768);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F1);
        const auto book = [&] {
            auto *name = control<QLineEdit>(window, u"Text1(0)"_s);
            click(name);
            QInputMethodEvent committed;
            committed.setCommitString(u"山田"_s);
            QApplication::sendEvent(name, &committed);
            if (pair) {
                click(control<QRadioButton>(window, u"Option3(1)"_s));
            }
            click(control<QPushButton>(window, u"Command1(0)"_s));
        };
        book();
        QCOMPARE(notice(window), told);
        auto *grid = control<QTreeWidget>(window, u"ListView1"_s);
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
        grid = control<QTreeWidget>(window, u"ListView1"_s);
        grid->scrollToItem(grid->topLevelItem(11));
        const QPoint cell(grid->columnViewportPosition(7) + 4, grid->visualItemRect(grid->topLevelItem(11)).center().y());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell); // a double-click begins with a press
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
        QStringList row1;
        for (int i = 0; i < 4; ++i) {
            row1 << control<QComboBox>(window, u"Combo1(%1)"_s.arg(i))->currentText();
        }
        QCOMPARE(row1, (QStringList{u"2009"_s, u"10"_s, u"20"_s, u"14"_s}));
        QCOMPARE(control<QLabel>(window, u"Label3(0)"_s)->text(), u"現在の予約人数：1人    予約可能人数：あと0人"_s);
        QCOMPARE(control<QListWidget>(window, u"List1"_s)->item(0)->text(), u"佐藤"_s);
    }

    // Deleting is asked with Cancel as the default, and told with how many went and where the copy is.
    void aDeletionIsAskedWithCareAndTold()
    {
        test::Workspace ws;
        ws.addReservation(u"2009/10/09"_s, u"10"_s, u"山田"_s);
        ws.addReservation(u"2009/10/10"_s, u"11"_s, u"佐藤"_s);
        MainWindow window(*ws.state);
        window.show();
        entry(window, u"mnuDB管理"_s)->trigger();
        click(control<QPushButton>(window, u"Command1(1)"_s));
        click(control<QPushButton>(window, u"Command2(0)"_s));
        QVERIFY(ws.dialogs.messages.first().destructive);
        QVERIFY(notice(window).startsWith(u"予約データを 2 件削除しました。"_s));
        QCOMPARE(notice(window).contains(u"削除前のバックアップ："_s + ws.folder() + u"/backup/yoyaku_"_s),
                 !ws.onPostgres());
        ws.dialogs.answers = {false};
        click(control<QPushButton>(window, u"Command1(0)"_s));
        QVERIFY(ws.dialogs.messages.last().destructive);
    }

    void menuHasTheNineEntriesInOrder()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        QCOMPARE(window.windowTitle(), u"QRB"_s);
        QStringList names;
        QStringList captions;
        for (QAction *action : window.menuBar()->actions()) {
            names << action->objectName();
            captions << action->text();
            QVERIFY(action->menu() == nullptr);
        }
        QCOMPARE(names, (QStringList{u"mnu予約登録"_s, u"mnu検索"_s, u"mnu来院記録"_s, u"mnu予約状況"_s, u"mnu帳票"_s,
                                     u"mnu設定"_s, u"mnuHELP"_s, u"mnuDB管理"_s, u"mnu終了"_s}));
        QCOMPARE(captions, (QStringList{u"予約登録"_s, u"検索"_s, u"来院記録"_s, u"予約状況"_s, u"帳票"_s, u"設定"_s,
                                        u"HELP"_s, u"DB管理"_s, u"プログラム終了"_s}));
    }

    void statusBarShowsTheClock()
    {
        test::Workspace ws;
        ws.clock.at = QDateTime(QDate(2009, 10, 9), QTime(20, 40, 12));
        MainWindow window(*ws.state);
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
    }

    void startsWithTheHelpScreen()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        QWidget *screen = window.currentScreen();
        QVERIFY(screen != nullptr);
        QCOMPARE(screen->objectName(), u"frmHELP"_s);
        QCOMPARE(screen->windowTitle(), u"HELP"_s);
        QCOMPARE(screen->findChild<QLabel *>(u"Label1(0)"_s)->text(), u"[操作説明]"_s);
        QCOMPARE(screen->findChild<QLabel *>(u"Label2(1)"_s)->text(), u"1.メニュー説明"_s);
        QCOMPARE(screen->findChild<QLabel *>(u"Label2(3)"_s)->text(),
                 u"　(2)検　　索：氏名・カナ氏名・電話番号で予約者を参照できます。"_s);
        QCOMPARE(screen->findChild<QLabel *>(u"Label2(10)"_s)->text(),
                 u"　(9)プログラム終了：このプログラムを終了します。"_s);
        QVERIFY(screen->findChild<QLabel *>(u"Label2(20)"_s) != nullptr);
    }

    void aMenuEntryReplacesTheOpenScreen()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        window.show();
        QPointer<QWidget> first = window.currentScreen();
        entry(window, u"mnuHELP"_s)->trigger();
        QVERIFY(first.isNull());
        QVERIFY(window.currentScreen() != nullptr);
        QCOMPARE(window.findChild<QMdiArea *>()->subWindowList().size(), 1);
        QVERIFY(window.findChild<QMdiArea *>()->subWindowList().first()->isMaximized());
    }

    void exitOkClosesScreenAndDatabase()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        window.show();
        ws.dialogs.answers = {true};
        entry(window, u"mnu終了"_s)->trigger();
        QVERIFY(!window.isVisible());
        QVERIFY(window.currentScreen() == nullptr);
        QVERIFY(!ws.db.isOpen());
    }

    void closeBoxClosesWithoutAsking()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        window.show();
        window.close();
        QVERIFY(ws.dialogs.messages.isEmpty());
        QVERIFY(!ws.db.isOpen());
        QVERIFY(window.currentScreen() == nullptr);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
