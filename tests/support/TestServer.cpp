#include "TestServer.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QThread>

using namespace Qt::StringLiterals;

namespace qrb::test {

std::optional<PgServer> testServer()
{
    const QString connInfo = qEnvironmentVariable("QRB_TEST_PG");
    if (connInfo.isEmpty() && qEnvironmentVariableIntValue("QRB_TEST_REQUIRE_PG") == 0) {
        return std::nullopt;
    }
    // An empty host is how setting.ini says "the SQLite file": a test registered for PostgreSQL must
    // not pass there unseen.
    PgServer server = PgServer::fromConnInfo(connInfo);
    if (server.host.isEmpty()) {
        qFatal("This test runs on PostgreSQL: QRB_TEST_PG must name the server with host=… (a name, or the "
               "socket folder). Run scripts/test.sh, or export the connection string scripts/pg-server.sh prints.");
    }
    return server;
}

ScratchDatabase::ScratchDatabase(const PgServer &server)
    : m_admin(server)
    , m_server(server)
{
    static QAtomicInt counter;
    m_admin.dbname = server.dbname.isEmpty() ? u"postgres"_s : server.dbname;
    m_server.dbname = u"qrb_test_%1_%2_%3"_s.arg(QCoreApplication::applicationPid())
                          .arg(counter.fetchAndAddRelaxed(1))
                          .arg(QRandomGenerator::global()->bounded(1u << 30), 0, 36);
    // C for collation and character classes: text sorts by code point and UPPER touches ASCII only,
    // as on SQLite.
    runOnServer(
        u"CREATE DATABASE %1 TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C'"_s.arg(m_server.dbname));
}

ScratchDatabase::~ScratchDatabase()
{
    try {
        runOnServer(u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_server.dbname));
    } catch (const DbError &error) {
        qWarning("%s", qPrintable(error.message()));
    }
}

void ScratchDatabase::runOnServer(const QString &sql) const
{
    // Connection names are program-wide; tests make databases from several threads at once.
    Database admin(u"qrb-test-admin-%1"_s.arg(reinterpret_cast<quintptr>(QThread::currentThreadId())));
    admin.openEmpty(DbTarget::server(m_admin));
    admin.write(sql);
}

} // namespace qrb::test
