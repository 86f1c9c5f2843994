#include "PgProxy.h"

#include <QtEndian>

#include <list>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qrb::test {

namespace {

// The start-up requests a client may send before its start-up message: encryption offers.
constexpr quint32 SslRequest = 80877103;
constexpr quint32 GssEncRequest = 80877104;

// One connection of QRB's and its own connection to the server.
struct Link {
    int client = -1;
    int server = -1;
    QByteArray pending;    // what the client sent that is not yet a whole message
    bool started = false;  // past the start-up messages, which carry no type byte
    bool losing = false;   // a COMMIT went out whose answer is to be lost
    bool sentStatement = false; // the transaction under way sent the statement looked for
};

bool sendAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Reads the client's messages as far as they have arrived: whether one of them is a COMMIT sent as a
// simple query (how QRB ends every write transaction) of a transaction that sent `statement`
// (any transaction when it is empty).
bool sendsCommit(Link &link, const QByteArray &statement)
{
    bool commit = false;
    while (true) {
        const char *data = link.pending.constData();
        if (!link.started) {
            if (link.pending.size() < 8) {
                break;
            }
            const auto length = qFromBigEndian<quint32>(data);
            const auto code = qFromBigEndian<quint32>(data + 4);
            if (link.pending.size() < qsizetype(length)) {
                break;
            }
            link.started = code != SslRequest && code != GssEncRequest;
            link.pending.remove(0, length);
            continue;
        }
        if (link.pending.size() < 5) {
            break;
        }
        const auto length = qFromBigEndian<quint32>(data + 1);
        if (link.pending.size() < 1 + qsizetype(length)) {
            break;
        }
        const QByteArray message = link.pending.mid(5, length - 4);
        if (!statement.isEmpty() && message.contains(statement)) {
            link.sentStatement = true;
        }
        const QByteArray upper = message.trimmed().toUpper();
        if (data[0] == 'Q' && (upper.startsWith("COMMIT") || upper.startsWith("ROLLBACK"))) {
            commit = commit || (upper.startsWith("COMMIT") && (statement.isEmpty() || link.sentStatement));
            link.sentStatement = false;
        }
        link.pending.remove(0, 1 + length);
    }
    return commit;
}

} // namespace

void PgProxy::loseNextCommitAnswer(const QByteArray &statement)
{
    {
        const std::lock_guard lock(m_mutex);
        m_statement = statement;
    }
    m_armed = true;
}

PgProxy::PgProxy(const PgServer &server)
    : m_server(server)
{
    const QByteArray port = QByteArray::number(server.port > 0 ? server.port : 5432);
    m_socket = server.host.toLocal8Bit() + "/.s.PGSQL." + port;
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!server.host.startsWith(u'/') || ::bind(m_listen, reinterpret_cast<sockaddr *>(&address), size) != 0
        || ::listen(m_listen, 16) != 0
        || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &size) != 0
        || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        qFatal("PgProxy: cannot listen on the loopback, or the test server is not a unix socket folder");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&PgProxy::run, this);
}

PgProxy::~PgProxy()
{
    const ssize_t woken = ::write(m_wake[1], "x", 1);
    Q_UNUSED(woken);
    m_thread.join();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    ::close(m_listen);
}

PgServer PgProxy::server() const
{
    PgServer relayed = m_server;
    relayed.host = u"127.0.0.1"_s;
    relayed.port = m_port;
    relayed.sslmode = u"disable"_s;
    return relayed;
}

void PgProxy::run()
{
    std::list<Link> links;
    const auto end = [](Link &link) {
        ::close(link.client);
        ::close(link.server);
        link.client = link.server = -1;
    };
    while (true) {
        std::vector<pollfd> polled{{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
        for (const Link &link : links) {
            polled.push_back({link.client, POLLIN, 0});
            polled.push_back({link.server, POLLIN, 0});
        }
        if (::poll(polled.data(), polled.size(), -1) < 0) {
            continue;
        }
        if (polled[0].revents != 0) {
            break;
        }
        if (polled[1].revents & POLLIN) {
            Link link;
            link.client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            link.server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un to{};
            to.sun_family = AF_UNIX;
            qstrncpy(to.sun_path, m_socket.constData(), sizeof to.sun_path);
            if (::connect(link.server, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
                end(link);
            } else {
                links.push_back(link);
            }
        }
        std::size_t i = 2;
        for (Link &link : links) {
            const short fromClient = polled[i++].revents;
            const short fromServer = polled[i++].revents;
            char buffer[65536];
            if (fromClient != 0) {
                const ssize_t n = ::read(link.client, buffer, sizeof buffer);
                link.pending.append(buffer, n > 0 ? n : 0);
                if (n <= 0 || !sendAll(link.server, buffer, n)) {
                    end(link);
                    continue;
                }
                const QByteArray statement = [&] {
                    const std::lock_guard lock(m_mutex);
                    return m_statement;
                }();
                if (sendsCommit(link, statement) && m_armed.exchange(false)) {
                    link.losing = true;
                }
            }
            if (fromServer != 0) {
                const ssize_t n = ::read(link.server, buffer, sizeof buffer);
                // The server has answered the COMMIT, so it has committed; the answer goes nowhere.
                if (link.losing && n > 0) {
                    m_lost = true;
                }
                if (n <= 0 || link.losing || !sendAll(link.client, buffer, n)) {
                    end(link);
                }
            }
        }
        links.remove_if([](const Link &link) { return link.client < 0; });
    }
    for (Link &link : links) {
        end(link);
    }
}

} // namespace qrb::test
