// qrb-report daily|unvisited|monthly YYYY/MM/DD: writes a report without the program's window, for a
// scheduled job that prints tomorrow's list. Run in the folder that holds setting.ini; the file is the
// one the reports screen writes, byte for byte, and its path is printed.
#include "config/IniFile.h"
#include "db/Database.h"
#include "screens/reports/Reports.h"
#include "shared/Dates.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <QTextStream>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(QRB_VERSION));
    QTextStream err(stderr);
    const QString usage = u"使い方: qrb-report daily|unvisited|monthly YYYY/MM/DD\n"
                          u"  daily      日報 (日報.txt)\n"
                          u"  unvisited  未来院予約者一覧 (未来院リスト.txt)\n"
                          u"  monthly    月報 (月報.txt、日付の月の分)\n"
                          u"  -h, --help    この説明を表示します\n"
                          u"  -v, --version バージョンを表示します\n"
                          u"setting.ini のあるフォルダで実行してください。\n"_s;
    QCommandLineParser parser;
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parsed && parser.isSet(helpOption)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (parsed && parser.isSet(versionOption)) {
        QTextStream(stdout) << u"qrb-report "_s << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    if (!parsed || args.size() != 2) {
        err << usage;
        return 2;
    }
    qrb::ReportKind kind;
    if (args.at(0) == u"daily"_s) {
        kind = qrb::ReportKind::Daily;
    } else if (args.at(0) == u"unvisited"_s) {
        kind = qrb::ReportKind::NotVisited;
    } else if (args.at(0) == u"monthly"_s) {
        kind = qrb::ReportKind::Monthly;
    } else {
        err << u"帳票の種類が正しくありません: "_s << args.at(0) << '\n' << usage;
        return 2;
    }
    const auto day = qrb::dateFromKey(args.at(1));
    if (!day) {
        err << u"日付が正しくありません。YYYY/MM/DD の形で指定してください: "_s << args.at(1) << '\n';
        return 2;
    }

    const QString startDir = QDir::currentPath();
    if (const std::optional<QString> missing = qrb::missingSettingFile(startDir)) {
        err << *missing << '\n';
        return 1;
    }
    const qrb::Config config = qrb::ini_read_all(startDir);
    qrb::Database db;
    try {
        db.DB_open(config.databaseTarget());
        const qrb::WrittenReport written =
            qrb::writeReport(db, qrb::reportFolder(startDir, config.TXTPATH), kind, *day);
        if (written.replaced > 0) {
            err << u"Shift-JIS で表せない文字が %1 文字あったため、「〓」に置き換えて書き込みました。\n"_s.arg(
                written.replaced);
        }
        QTextStream(stdout) << QDir::toNativeSeparators(written.path) << '\n';
    } catch (const qrb::DbError &error) {
        err << qrb::reportName(kind) << u"を作成できませんでした。\n"_s << error.message() << '\n';
        return 1;
    } catch (const qrb::ReportFileError &error) {
        err << qrb::reportName(kind) << u"を作成できませんでした。\n"_s << error.message() << '\n';
        return 1;
    }
    return 0;
}
