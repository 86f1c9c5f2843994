#include "Workspace.h"

#include "db/Schema.h"

#include <QDir>

#include <tuple>

using namespace Qt::StringLiterals;

namespace qrb::test {

Workspace::Workspace(int places, const QString &connection)
    : db(connection)
{
    Config config;
    config.SVNM = dir.path();
    config.SYS0 = u"yoyaku.db"_s;
    config.TXTPATH = dir.path() + u"/reports/"_s;
    if (const std::optional<PgServer> server = testServer()) {
        scratch.emplace(*server);
        const PgServer pg = scratch->server();
        Config::PostgresKeys &keys = config.POSTGRESQL;
        std::tie(keys.HOST, keys.DBNAME, keys.USER, keys.PASSWORD) = std::tie(pg.host, pg.dbname, pg.user, pg.password);
        keys.PORT = pg.port > 0 ? QString::number(pg.port) : QString();
    }
    createDatabase(config.databaseTarget(), places);
    db.DB_open(config.databaseTarget());
    state.reset(new ProgramState{dir.path(), config, db, clock, dialogs, viewer});
}

int Workspace::addReservation(const QString &ydate, const QString &ytime, const QString &knm, int cflg,
                              const QString &kno)
{
    const int yno = db.scalar(u"SELECT COALESCE(MAX(YNO), 0) + 1 FROM YOYAKU"_s).toInt();
    db.write(u"INSERT INTO YOYAKU (YNO, KNO, KNM, KKNM, YDATE, YTIME, SFLG, SCNT, CFLG, Category) "
             "VALUES (?, ?, ?, '', ?, ?, 1, 1, ?, 0)"_s,
             {yno, kno, knm, ydate, ytime, cflg});
    return yno;
}

BookingRecord bookingOf(const QString &knm, const QString &ydate, const QString &ytime, const QString &kno)
{
    BookingRecord r;
    std::tie(r.kno, r.knm, r.ydate, r.ytime) = std::tie(kno, knm, ydate, ytime);
    r.sflg = r.scnt = 1;
    return r;
}

QString binDir()
{
    const QByteArray dir = qgetenv("QRB_BIN_DIR");
    return dir.isEmpty() ? QDir::currentPath() + u"/.."_s : QString::fromLocal8Bit(dir);
}

} // namespace qrb::test
