#pragma once

#include "db/Database.h"

#include <optional>

namespace qrb::test {

// The PostgreSQL server the tests run against: QRB_TEST_PG holds its connection string
// ("host=… port=… user=…"); without it the tests run on SQLite. A test registered for PostgreSQL
// (QRB_TEST_REQUIRE_PG=1) stops with a failure when the variable is missing, never passes unseen.
std::optional<PgServer> testServer();

// A database of its own on the test server, empty, dropped again (with whatever still connects to
// it) when this goes away.
class ScratchDatabase
{
public:
    explicit ScratchDatabase(const PgServer &server);
    ~ScratchDatabase();
    Q_DISABLE_COPY_MOVE(ScratchDatabase)

    // The scratch database on the test server, as QRB would connect to it.
    PgServer server() const { return m_server; }
    // A statement for the whole server (roles, databases), run on the server's own database.
    void runOnServer(const QString &sql) const;

private:
    PgServer m_admin;
    PgServer m_server;
};

} // namespace qrb::test
