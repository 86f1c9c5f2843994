#include "config/Clock.h"
#include "screens/common/Dialogs.h"
#include "config/IniFile.h"
#include "screens/common/ProgramState.h"
#include "app/window/MainWindow.h"
#include "db/Database.h"
#include "screens/reports/ReportViewerWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QScreen>
#include <QTextStream>
#include <QTimer>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"QRB"_s);
    // Without them Qt's own buttons and dialogs read English; the desk goes on in that case.
    qrb::installJapaneseTranslations(app);
    // One Japanese face for every text: with the desktop's Latin face first, each line would mix two
    // fonts, and digits next to kana would come out in the other one.
    QFont font(u"Noto Sans CJK JP"_s);
    font.setPointSizeF(QApplication::font().pointSizeF());
    QApplication::setFont(font);

    const QString startDir = QDir::currentPath();
    qrb::Config config = qrb::ini_read_all(startDir);
    qrb::MessageBoxDialogs dialogs;
    qrb::Database db;
    try {
        db.DB_open(config.databaseTarget());
    } catch (const qrb::DbError &error) {
        // Without its database the program cannot book anyone: say why, then stop.
        dialogs.tell(error.message() + u"\r\n\r\nプログラムを終了します。"_s);
        return 1;
    }
    qrb::SystemClock clock;
    qrb::ReportViewerWindow viewer(dialogs);
    qrb::ProgramState state{startDir, std::move(config), db, clock, dialogs, viewer};

    qrb::MainWindow window(state);
    // Without a window manager (a kiosk session) "maximised" means nothing; fill the screen anyway.
    window.setGeometry(window.screen()->availableGeometry());
    window.showMaximized();
    // qrb-bench measures the start-up: it asks the program to end as soon as the help screen is up.
    // It also reads the peak resident memory, which only the process itself can tell reliably.
    if (qEnvironmentVariableIsSet("QRB_QUIT_WHEN_SHOWN")) {
        QTimer::singleShot(0, &app, [] {
            QFile status(u"/proc/self/status"_s);
            if (status.open(QIODevice::ReadOnly)) {
                for (const QByteArray &line : status.readAll().split('\n')) {
                    if (line.startsWith("VmHWM:")) {
                        QTextStream(stdout) << line << Qt::endl;
                    }
                }
            }
            QCoreApplication::quit();
        });
    }
    return QApplication::exec();
}
