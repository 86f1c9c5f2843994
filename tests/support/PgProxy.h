#pragma once

#include "db/Database.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace qrb::test {

// A relay between QRB and the test server that can lose the server's answer to a COMMIT, as a network
// that drops at that moment: the COMMIT reaches the server, which commits, but its answer never comes
// back, and the connection ends. QRB connects over TCP on this machine; the relay reaches the server
// through the unix socket the test server listens on. It runs in a thread of its own, so that the
// program under test may wait for the server in the thread that made it.
class PgProxy
{
public:
    explicit PgProxy(const PgServer &server);
    ~PgProxy();
    Q_DISABLE_COPY_MOVE(PgProxy)

    // The same database, reached through the relay.
    PgServer server() const;
    // The answer to the next COMMIT (of any connection) is lost; the ones after it arrive. With
    // `statement`, only the COMMIT of a transaction that sent a statement containing it counts
    // ("INSERT INTO YOYAKU": the booking's, not the one of the attempt counters before it).
    void loseNextCommitAnswer(const QByteArray &statement = {});
    // An answer has been lost since the last loseNextCommitAnswer().
    bool lostOne() const { return m_lost; }

private:
    void run();

    PgServer m_server;
    QByteArray m_socket; // the server's unix socket
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::mutex m_mutex;
    QByteArray m_statement; // under m_mutex
    std::atomic<bool> m_armed = false;
    std::atomic<bool> m_lost = false;
    std::thread m_thread;
};

} // namespace qrb::test
