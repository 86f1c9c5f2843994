// qrb-restore BACKUP: puts a backup of the maintenance screen back as the clinic's database file.
// Run in the folder that holds setting.ini, with QRB ended on every workstation. The file replaced is
// kept in the backup folder, and its path printed, so that the restore can itself be undone.
#include "config/IniFile.h"
#include "db/Backup.h"
#include "db/Database.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStringList>
#include <QTextStream>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(QRB_VERSION));
    QTextStream err(stderr);
    const QString usage = u"使い方: qrb-restore BACKUP\n"
                          u"  BACKUP  戻すバックアップファイル(データベースのフォルダの backup にあるもの)\n"
                          u"  -h, --help    この説明を表示します\n"
                          u"  -v, --version バージョンを表示します\n"
                          u"setting.ini のあるフォルダで、すべての端末の QRB を終了してから実行してください。\n"_s;
    QCommandLineParser parser;
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parsed && parser.isSet(helpOption)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (parsed && parser.isSet(versionOption)) {
        QTextStream(stdout) << u"qrb-restore "_s << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    if (!parsed || args.size() != 1) {
        err << usage;
        return 2;
    }
    const QString startDir = QDir::currentPath();
    for (const auto &problem : {qrb::missingSettingFile(startDir), qrb::unreadableSettingFile(startDir)}) {
        if (problem) {
            err << *problem << '\n';
            return 1;
        }
    }
    try {
        const qrb::DbTarget target = qrb::ini_read_all(startDir).databaseTarget();
        if (target.isPostgres()) {
            err << u"PostgreSQL のデータベースはサーバーのバックアップ(pg_restore)で戻してください。\n"_s;
            return 1;
        }
        const QString kept = qrb::restoreDatabase(args.at(0), target.sqlitePath, QDateTime::currentDateTime(), u"qrb-restore"_s);
        QTextStream(stdout) << u"復元しました: "_s << QDir::toNativeSeparators(target.sqlitePath) << '\n'
                            << u"それまでのデータベース: "_s << QDir::toNativeSeparators(kept) << '\n';
    } catch (const qrb::DbError &error) {
        err << error.message() << '\n';
        return 1;
    }
    return 0;
}
