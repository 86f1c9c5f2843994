#include "app/base/Clock.h"
#include "app/base/Dialogs.h"
#include "app/base/IniFile.h"
#include "app/base/ProgramState.h"
#include "app/base/ReportViewer.h"
#include "app/window/MainWindow.h"
#include "db/Database.h"

#include <QApplication>
#include <QDir>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"QRB"_s);

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
    qrb::SystemEditorViewer viewer;
    qrb::ProgramState state{startDir, std::move(config), db, clock, dialogs, viewer};

    qrb::MainWindow window(state);
    window.showMaximized();
    return QApplication::exec();
}
