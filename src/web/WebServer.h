#pragma once

#include "WebApp.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QPointer>
#include <QTcpServer>

#include <atomic>
#include <memory>

namespace qrb::web {

// What one connection and one client may cost the server. Qt's HTTP server keeps a request in memory
// until it is complete and sets no limit of its own: these bound the size of a request, the time to
// send it, and the connections open at once, in all and per client, so that neither a huge request nor
// slow clients (one byte at a time, or hundreds of half-sent requests) can hold the server for everyone.
struct ConnectionLimits {
    qint64 maxRequestBytes = 16 * 1024; // the body of one request; the forms need a few kB
    int requestTimeoutMs = 10000;       // to send a whole request, counted from the connection or the last answer
    int maxConnections = 1000;          // open at once; beyond, new ones are closed at once
    // Open at once from one client: from its address (an IPv6 /64) and from its network (an IPv4 /24,
    // an IPv6 /48). A client behind the reverse proxy counts while its requests are under way.
    int perAddress = 16;
    int perNetwork = 32;
    qint64 maxHeadBytes = 8 * 1024; // the request line and headers
    // Connections the system completes and holds for the server while it is busy: a season-opening
    // burst waits here instead of being turned away into the clients' one-second retry.
    int listenBacklog = 1024;
};

class Connection;
class GuardedTcpServer;

// The connections open at once, for every listener of one qrb-web together (its workers run on
// several threads): in all, and held per client address and network.
class ConnectionBudget final
{
public:
    explicit ConnectionBudget(ConnectionLimits limits)
        : m_limits(limits)
    {
    }

    // Takes one more connection from each of `keys` (addresses and networks); false, taking none,
    // when one of them is at its limit.
    bool hold(const QStringList &keys);
    void release(const QStringList &keys);
    // One more connection open, held by `keys`; false, taking nothing, when every place is taken.
    bool open(const QStringList &keys);
    void close(const QStringList &keys);

private:
    ConnectionLimits m_limits;
    QMutex m_mutex;
    int m_open = 0;
    QHash<QString, int> m_held; // connections per address and per network
};

// The listeners of the workers of one qrb-web, each on a copy of one listening socket: whichever
// accepts a connection, the one with the fewest connections serves it, so that a crowd arriving at
// once spreads over every worker instead of staying with the first one awake.
class ListenerGroup final
{
public:
    void add(GuardedTcpServer *listener);
    void remove(GuardedTcpServer *listener);
    // The least busy listener, counting on it a connection about to be handed to it; `self` on a tie.
    GuardedTcpServer *assign(GuardedTcpServer *self);

private:
    QMutex m_mutex;
    QList<GuardedTcpServer *> m_listeners;
};

// Accepts connections within ConnectionLimits, watches the requests arriving on each before Qt's HTTP
// server reads them (refusing what the two might read differently), and hands them on.
class GuardedTcpServer final : public QTcpServer
{
    Q_OBJECT
public:
    // `budget` counts the connections of every listener it is shared by; `group`, when given, shares
    // out what this one accepts.
    GuardedTcpServer(ConnectionLimits limits, std::shared_ptr<ConnectionBudget> budget, ListenerGroup *group = nullptr,
                     QObject *parent = nullptr);
    // Ends the connections still open: they count against this server and are served by no other.
    ~GuardedTcpServer() override;

    bool hold(const QStringList &keys) { return m_budget->hold(keys); }
    void release(const QStringList &keys) { m_budget->release(keys); }
    // A connection served here has ended; `keys` held it.
    void closed(const QStringList &keys) { m_budget->close(keys); }
    // Connections this listener serves or is about to be handed.
    int load() const { return m_load; }
    // Stops accepting and lets each connection end after the request it is receiving (an idle one at
    // once); emits drained() when none is left.
    void drain();
    bool draining() const { return m_draining; }
    const ConnectionLimits &limits() const { return m_limits; }

signals:
    void drained();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    friend class ListenerGroup;
    // Serves a connection accepted here or by another listener of the group.
    void serve(qintptr socketDescriptor);
    void connectionGone();

    ConnectionLimits m_limits;
    std::shared_ptr<ConnectionBudget> m_budget;
    ListenerGroup *m_group;
    std::atomic<int> m_load = 0;
    QList<QPointer<QTcpSocket>> m_open;
    std::atomic<bool> m_draining = false; // read by the other listeners of the group
    bool m_drained = false;
};

// qrb-web's HTTP side: every request is read into plain values, answered by WebApp, and sent back
// with the headers that keep the pages from being framed, leaking addresses or running scripts.
class WebServer final : public QAbstractHttpServer
{
    Q_OBJECT
public:
    // `budget`, when given, is shared with the servers of the other workers, and `group` with their listeners.
    WebServer(WebApp &app, ConnectionLimits limits = {}, std::shared_ptr<ConnectionBudget> budget = {},
              ListenerGroup *group = nullptr, QObject *parent = nullptr);

    // Listens on the address and port (0: any free port); returns the port, or 0 with the reason.
    quint16 listenOn(const QHostAddress &address, quint16 port, QString *error);
    // Serves the connections of a socket already listening (a worker's copy of the program's one);
    // false with the reason when it cannot.
    bool listenOnSocket(qintptr socketDescriptor, QString *error);
    // Stops taking connections and finishes the requests under way; emits drained() when every
    // connection has ended.
    void drain();

signals:
    void drained();

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void addListener(GuardedTcpServer *tcp);

    WebApp &m_app;
    ConnectionLimits m_limits;
    std::shared_ptr<ConnectionBudget> m_budget;
    ListenerGroup *m_group;
    QList<GuardedTcpServer *> m_listeners;
    int m_drainingListeners = 0;
};

// The fields of "a=1&b=%E3%81%82" (application/x-www-form-urlencoded, "+" a blank); the first of a
// repeated name wins, and at most 64 fields are read.
QHash<QString, QString> formFields(const QByteArray &encoded);

} // namespace qrb::web
