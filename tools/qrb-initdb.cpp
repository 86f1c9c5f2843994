// qrb-initdb PATH [--places N]: makes a new, empty reservation database file.
// qrb-initdb --pg "host=… port=… dbname=… user=…" [--places N]: writes the tables into an existing,
// still empty PostgreSQL database (the server's administrator makes the database itself).
// The only way a database comes into being: the program itself never creates one.
#include "db/Database.h"
#include "db/Schema.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <optional>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(QRB_VERSION));
    QTextStream err(stderr);
    const QString usage = u"使い方: qrb-initdb PATH [--places N]\n"
                          u"       qrb-initdb --pg \"host=… port=… dbname=… user=… [password=…]\" [--places N]\n"
                          u"  PATH       作成するデータベースファイル(既存のファイルは上書きしません)\n"
                          u"  --pg       テーブルを作る PostgreSQL データベース(空であること。"
                          u"password を省くと ~/.pgpass を使います)\n"
                          u"  --places N 曜日・時間帯ごとの予約可能人数(0〜9999、既定 0)\n"
                          u"  -h, --help この説明を表示します\n"
                          u"  -v, --version バージョンを表示します\n"_s;
    QCommandLineParser parser;
    const QCommandLineOption placesOption(u"places"_s, u"予約可能人数"_s, u"N"_s, u"0"_s);
    const QCommandLineOption pgOption(u"pg"_s, u"PostgreSQL データベース"_s, u"CONNINFO"_s);
    parser.addOptions({placesOption, pgOption});
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments())) {
        err << usage;
        return 2;
    }
    if (parser.isSet(helpOption)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (parser.isSet(versionOption)) {
        QTextStream(stdout) << u"qrb-initdb "_s << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    bool ok = false;
    const int places = parser.value(placesOption).toInt(&ok);
    if (!ok || places < 0 || places > 9999) {
        err << u"予約可能人数は 0〜9999 の整数で指定してください: "_s << parser.value(placesOption) << '\n' << usage;
        return 2;
    }
    // Two databases in one call would be a typing slip, not a wish.
    if (parser.values(pgOption).size() > 1 || parser.positionalArguments().size() > 1) {
        err << usage;
        return 2;
    }
    const QString path = parser.positionalArguments().value(0);
    const std::optional<QString> connInfo =
        parser.isSet(pgOption) ? std::optional<QString>(parser.value(pgOption)) : std::nullopt;
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
