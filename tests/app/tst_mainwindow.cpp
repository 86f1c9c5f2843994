#include "app/window/MainWindow.h"
#include "support/Workspace.h"

#include <QAction>
#include <QLabel>
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

private slots:
    void menuHasTheNineEntriesInOrder()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        // The caption is "QRB"; a maximised screen adds its own, as MDI frames do.
        QCOMPARE(window.windowTitle(), u"QRB - [HELP]"_s);
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
        QVERIFY(entry(window, u"mnuHELP"_s)->isEnabled());
        QVERIFY(entry(window, u"mnu終了"_s)->isEnabled());
    }

    void statusBarShowsTheClock()
    {
        test::Workspace ws;
        ws.clock.at = QDateTime(QDate(2009, 10, 9), QTime(20, 40, 12));
        MainWindow window(*ws.state);
        QStringList panels;
        for (QLabel *label : window.statusBar()->findChildren<QLabel *>()) {
            panels << label->text();
        }
        QVERIFY(panels.contains(u"ｽﾃｰﾀｽ"_s));
        QVERIFY(panels.contains(u"2009/10/09"_s));
        QVERIFY(panels.contains(u"20:40"_s));
        ws.clock.at = QDateTime(QDate(2009, 10, 10), QTime(0, 1));
        window.refreshStatusBar();
        panels.clear();
        for (QLabel *label : window.statusBar()->findChildren<QLabel *>()) {
            panels << label->text();
        }
        QVERIFY(panels.contains(u"2009/10/10"_s));
        QVERIFY(panels.contains(u"00:01"_s));
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

    void exitCancelKeepsEverything()
    {
        test::Workspace ws;
        MainWindow window(*ws.state);
        window.show();
        QWidget *screen = window.currentScreen();
        ws.dialogs.answers = {false};
        entry(window, u"mnu終了"_s)->trigger();
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QCOMPARE(ws.dialogs.messages.first().text, u"プログラムを終了します。\r\nよろしいですか？"_s);
        QVERIFY(ws.dialogs.messages.first().question);
        QVERIFY(ws.dialogs.messages.first().title.isEmpty());
        QVERIFY(window.isVisible());
        QCOMPARE(window.currentScreen(), screen);
        QVERIFY(ws.db.isOpen());
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
