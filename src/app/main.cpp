#include "config/Clock.h"
#include "screens/common/Dialogs.h"
#include "config/IniFile.h"
#include "screens/common/ProgramState.h"
#include "app/window/MainWindow.h"
#include "db/Database.h"
#include "screens/reports/ReportViewerWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QRegularExpression>
#include <QScreen>
#include <QTextStream>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString Usage = u"使い方: qrb [--workspace フォルダ]\n"
                      u"  -w, --workspace フォルダ  setting.ini のあるフォルダで動きます"
                      u"(「~/」で始まればホームフォルダの中。既定は現在のフォルダ)\n"
                      u"  -h, --help                この説明を表示します\n"
                      u"  -v, --version             バージョンを表示します\n"_s;

// A path as typed into a terminal: quoted when the shell would split or expand it.
QString shellWord(const QString &path)
{
    static const QRegularExpression plain(u"^[A-Za-z0-9_./+-]+$"_s);
    return plain.match(path).hasMatch() ? path : u"'"_s + QString(path).replace(u"'"_s, u"'\\''"_s) + u"'"_s;
}

// What a workspace without setting.ini needs, in commands the administrator can type. The program never
// makes the folder, the database or the file itself: a wrong folder must not become an empty clinic.
QString missingSettingsMessage(const QString &folder)
{
    const QString sample = QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).filePath(
        QStringLiteral(QRB_DATA_FROM_BIN) + u"/setting.ini"_s));
    const QString dir = shellWord(QDir::toNativeSeparators(folder));
    QString text = u"作業フォルダに setting.ini がありません:\r\n"_s + QDir::toNativeSeparators(folder)
                   + u"\r\n\r\nQRB は setting.ini のあるフォルダで動きます。端末で次のように入力すると、"
                     u"このフォルダに各時間帯 5 人の予約枠のデータベースと setting.ini を作れます:\r\n\r\n"
                     u"mkdir -p "_s + dir + u"\r\nqrb-initdb "_s + shellWord(QDir::toNativeSeparators(folder + u"/yoyaku.db"_s))
                   + u" --places 5\r\n"_s;
    if (QFileInfo(sample).isFile()) {
        text += u"cp "_s + shellWord(sample) + u" "_s + dir + u"/\r\n"_s;
    } else {
        text += u"\r\nそして同じフォルダに setting.ini を作り、[DATABASE] に SYS0=yoyaku.db、[SERVER] に SVNM=. "
                u"と書いてください。\r\n"_s;
    }
    return text + u"\r\n詳しくは「man qrb」をご覧ください。"_s;
}

// What is wrong with the command line, as one line; empty when nothing is. A --workspace without its
// folder would otherwise leave the program in the current folder, or say only how it is used.
QString commandLineError(const QCommandLineParser &parser, bool parsed, const QCommandLineOption &workspace)
{
    if (parser.isSet(workspace) && parser.value(workspace).isEmpty()) {
        return u"qrb: --workspace の後に作業フォルダ(setting.ini のあるフォルダ)を指定してください。\n"_s;
    }
    if (!parsed) {
        return u"qrb: "_s + parser.errorText() + u"\n"_s;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return u"qrb: 余分な引数です: "_s + parser.positionalArguments().join(u' ') + u"\n"_s;
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    // --help and --version answer before the window system is reached, so that they work without a display.
    QCommandLineParser parser;
    const QCommandLineOption workspaceOption({u"w"_s, u"workspace"_s}, u"setting.ini のあるフォルダ"_s, u"フォルダ"_s);
    parser.addOption(workspaceOption);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i) {
        rawArguments << QString::fromLocal8Bit(argv[i]);
    }
    const bool parsed = parser.parse(rawArguments);
    if (parsed && (parser.isSet(helpOption) || parser.isSet(versionOption))) {
        QTextStream(stdout) << (parser.isSet(helpOption) ? Usage : u"qrb "_s + QStringLiteral(QRB_VERSION) + u"\n"_s);
        return 0;
    }
    // Qt's own options (-platform …) are unknown to this first reading; a missing folder is not.
    if (parser.isSet(workspaceOption) && parser.value(workspaceOption).isEmpty()) {
        QTextStream(stderr) << commandLineError(parser, parsed, workspaceOption) << Usage;
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"QRB"_s);
    QApplication::setApplicationVersion(QStringLiteral(QRB_VERSION));
    QGuiApplication::setDesktopFileName(u"qrb"_s);
    QApplication::setWindowIcon(QIcon::fromTheme(u"qrb"_s));
    // Without them Qt's own buttons and dialogs read English; the desk goes on in that case.
    qrb::installJapaneseTranslations(app);
    // Qt has taken its own options (-platform …) out of the arguments by now.
    if (const QString error = commandLineError(parser, parser.parse(QCoreApplication::arguments()), workspaceOption);
        !error.isEmpty()) {
        QTextStream(stderr) << error << Usage;
        return 2;
    }
    // One Japanese face for every text: with the desktop's Latin face first, each line would mix two
    // fonts, and digits next to kana would come out in the other one.
    QFont font(u"Noto Sans CJK JP"_s);
    font.setPointSizeF(QApplication::font().pointSizeF());
    QApplication::setFont(font);

    qrb::MessageBoxDialogs dialogs;
    // A desktop entry runs no shell, so it names a folder in the home as "~/…".
    QString workspace = parser.value(workspaceOption);
    if (workspace == u"~"_s || workspace.startsWith(u"~/"_s)) {
        workspace = QDir::homePath() + workspace.mid(1);
    }
    // The workspace becomes the current folder: relative paths in setting.ini are meant from there.
    if (!workspace.isEmpty() && !QDir::setCurrent(workspace)) {
        dialogs.tell(missingSettingsMessage(QDir(workspace).absolutePath()));
        return 1;
    }
    const QString startDir = QDir::currentPath();
    if (qrb::missingSettingFile(startDir)) {
        dialogs.tell(missingSettingsMessage(startDir));
        return 1;
    }
    if (const std::optional<QString> unreadable = qrb::unreadableSettingFile(startDir)) {
        dialogs.tell(*unreadable + u"\r\n\r\nプログラムを終了します。"_s);
        return 1;
    }
    qrb::Config config = qrb::ini_read_all(startDir);
    // A closed day written wrongly must not keep the desk from booking: tell which lines, then start.
    if (const QString problems = config.CLOSED.problemsMessage(); !problems.isEmpty()) {
        dialogs.tell(problems);
    }
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
