// qrb-report daily|unvisited|monthly YYYY/MM/DD: writes a report without the program's window, for a
// scheduled job that prints tomorrow's list. Run in the folder that holds setting.ini; the file is the
// one the reports screen writes, byte for byte, and its path is printed.
// qrb-report history day|yno|kno|name VALUE [--csv]: the history of changes, as the maintenance
// screen writes it (操作履歴.txt, or 操作履歴.csv).
#include "config/IniFile.h"
#include "db/Database.h"
#include "screens/reports/HistoryReport.h"
#include "screens/reports/Reports.h"
#include "shared/Dates.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStringList>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

// The settings of the folder the tool runs in. Reports are written where the desk writes them, so the
// folder of setting.ini is the one to run in; without one, what is missing is said.
std::optional<qrb::Config> settingsOf(const QString &folder, QTextStream &err)
{
    for (const auto &problem : {qrb::missingSettingFile(folder), qrb::unreadableSettingFile(folder)}) {
        if (problem) {
            err << *problem << '\n';
            return std::nullopt;
        }
    }
    return qrb::ini_read_all(folder);
}

// The history of a day, reservation number, patient number or name, as a text report or CSV.
int writeHistory(const QStringList &args, bool csv, QTextStream &err, const QString &usage)
{
    const QStringList keys = {u"day"_s, u"yno"_s, u"kno"_s, u"name"_s};
    const qsizetype key = args.size() == 3 ? keys.indexOf(args.at(1)) : -1;
    if (key < 0) {
        err << usage;
        return 2;
    }
    if (key == 0 && !qrb::dateFromKey(args.at(2))) {
        err << u"日付が正しくありません。YYYY/MM/DD の形で指定してください: "_s << args.at(2) << '\n';
        return 2;
    }
    const QString condition = QStringList{u"日付"_s, u"予約番号"_s, u"患者番号"_s, u"氏名"_s}.at(key) + u' ' + args.at(2);
    const QString startDir = QDir::currentPath();
    const std::optional<qrb::Config> config = settingsOf(startDir, err);
    if (!config) {
        return 1;
    }
    qrb::Database db;
    db.setActor(u"qrb-report"_s);
    try {
        db.DB_open(config->databaseTarget());
        const auto entries = qrb::historyOf(db, qrb::HistoryKey(key), args.at(2));
        const QString folder = qrb::reportFolder(startDir, config->TXTPATH);
        const QString now = QDateTime::currentDateTime().toString(u"yyyy/MM/dd HH:mm"_s);
        const qrb::WrittenReport written =
            csv ? qrb::writeHistoryCsv(folder, entries)
                : qrb::writeHistoryReport(folder, qrb::historyReport(condition, now, entries));
        QTextStream(stdout) << QDir::toNativeSeparators(written.path) << '\n';
    } catch (const qrb::DbError &error) {
        err << u"操作履歴を作成できませんでした。\n"_s << error.message() << '\n';
        return 1;
    } catch (const qrb::ReportFileError &error) {
        err << u"操作履歴を作成できませんでした。\n"_s << error.message() << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(QRB_VERSION));
    QTextStream err(stderr);
    const QString usage = u"使い方: qrb-report daily|unvisited|monthly YYYY/MM/DD\n"
                          u"       qrb-report history day|yno|kno|name 値 [--csv]\n"
                          u"  daily      日報 (日報.txt)\n"
                          u"  unvisited  未来院予約者一覧 (未来院リスト.txt)\n"
                          u"  monthly    月報 (月報.txt、日付の月の分)\n"
                          u"  history    操作履歴 (操作履歴.txt、--csv で 操作履歴.csv): 日付 YYYY/MM/DD、"
                          u"予約番号、患者番号、氏名(前方一致)のいずれかで\n"
                          u"  -h, --help    この説明を表示します\n"
                          u"  -v, --version バージョンを表示します\n"
                          u"setting.ini のあるフォルダで実行してください。\n"_s;
    QCommandLineParser parser;
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption csvOption(u"csv"_s);
    parser.addOption(csvOption);
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
    if (parsed && !args.isEmpty() && args.at(0) == u"history"_s) {
        return writeHistory(args, parser.isSet(csvOption), err, usage);
    }
    if (!parsed || args.size() != 2 || parser.isSet(csvOption)) {
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
    const std::optional<qrb::Config> config = settingsOf(startDir, err);
    if (!config) {
        return 1;
    }
    qrb::Database db;
    try {
        db.DB_open(config->databaseTarget());
        const qrb::WrittenReport written =
            qrb::writeReport(db, qrb::reportFolder(startDir, config->TXTPATH), kind, *day);
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
