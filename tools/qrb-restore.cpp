// qrb-restore BACKUP: puts a backup of the maintenance screen back as the clinic's database file.
// Run in the folder that holds setting.ini, with QRB ended on every workstation. The file replaced is
// kept in the backup folder, and its path printed, so that the restore can itself be undone.
#include "config/IniFile.h"
#include "db/Backup.h"
#include "db/Database.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStringList>
#include <QTextStream>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() != 1 || args.at(0).startsWith(u"-"_s)) {
        err << u"使い方: qrb-restore BACKUP\n"
               u"  BACKUP  戻すバックアップファイル(データベースのフォルダの backup にあるもの)\n"
               u"setting.ini のあるフォルダで、すべての端末の QRB を終了してから実行してください。\n"_s;
        return 2;
    }
    const QString startDir = QDir::currentPath();
    if (const std::optional<QString> missing = qrb::missingSettingFile(startDir)) {
        err << *missing << '\n';
        return 1;
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
