// qrb-initdb PATH [--places N]: makes a new, empty reservation database file.
// qrb-initdb --pg "host=… port=… dbname=… user=…" [--places N]: writes the tables into an existing,
// still empty PostgreSQL database (the server's administrator makes the database itself).
// The only way a database comes into being: the program itself never creates one.
#include "db/Database.h"
#include "db/Schema.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <optional>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString usage = u"使い方: qrb-initdb PATH [--places N]\n"
                          u"       qrb-initdb --pg \"host=… port=… dbname=… user=… [password=…]\" [--places N]\n"
                          u"  PATH       作成するデータベースファイル(既存のファイルは上書きしません)\n"
                          u"  --pg       テーブルを作る PostgreSQL データベース(空であること。"
                          u"password を省くと ~/.pgpass を使います)\n"
                          u"  --places N 曜日・時間帯ごとの予約可能人数(0〜9999、既定 0)\n"_s;
    QString path;
    std::optional<QString> connInfo;
    int places = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == u"--places"_s && i + 1 < args.size()) {
            bool ok = false;
            places = args.at(++i).toInt(&ok);
            if (!ok || places < 0 || places > 9999) {
                err << u"予約可能人数は 0〜9999 の整数で指定してください: "_s << args.at(i) << '\n' << usage;
                return 2;
            }
        } else if (args.at(i) == u"--pg"_s && i + 1 < args.size() && !connInfo) {
            connInfo = args.at(++i);
        } else if (path.isEmpty() && !args.at(i).startsWith(u"--"_s)) {
            path = args.at(i);
        } else {
            err << usage;
            return 2;
        }
    }
    if (path.isEmpty() == !connInfo) {
        err << usage;
        return 2;
    }
    try {
        const qrb::DbTarget target = connInfo ? qrb::DbTarget::server(qrb::PgServer::fromConnInfo(*connInfo))
                                              : qrb::DbTarget::sqlite(path);
        qrb::createDatabase(target, places);
        QTextStream(stdout) << target.displayName() << '\n';
    } catch (const qrb::DbError &error) {
        err << error.message() << '\n';
        return 1;
    }
    return 0;
}
