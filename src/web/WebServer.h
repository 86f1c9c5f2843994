#pragma once

#include "WebApp.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>

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

// Accepts connections within ConnectionLimits, watches the requests arriving on each before Qt's HTTP
// server reads them (refusing what the two might read differently), and hands them on.
class GuardedTcpServer final : public QTcpServer
{
    Q_OBJECT
public:
    explicit GuardedTcpServer(ConnectionLimits limits, QObject *parent = nullptr);
    // Ends the connections still open: they count against this server and are served by no other.
    ~GuardedTcpServer() override;

    // Takes one more connection from each of `keys` (addresses and networks); false, taking none,
    // when one of them is at its limit.
    bool hold(const QStringList &keys);
    void release(const QStringList &keys);
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
    void connectionGone();

    ConnectionLimits m_limits;
    QList<QPointer<QTcpSocket>> m_open;
    QHash<QString, int> m_held; // connections per address and per network
    bool m_draining = false;
    bool m_drained = false;
};

// qrb-web's HTTP side: every request is read into plain values, answered by WebApp, and sent back
// with the headers that keep the pages from being framed, leaking addresses or running scripts.
class WebServer final : public QAbstractHttpServer
{
    Q_OBJECT
public:
    WebServer(WebApp &app, ConnectionLimits limits = {}, QObject *parent = nullptr);

    // Listens on the address and port (0: any free port); returns the port, or 0 with the reason.
    quint16 listenOn(const QHostAddress &address, quint16 port, QString *error);
    // Stops taking connections and finishes the requests under way; emits drained() when every
    // connection has ended.
    void drain();

signals:
    void drained();

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    WebApp &m_app;
    ConnectionLimits m_limits;
    QList<GuardedTcpServer *> m_listeners;
    int m_drainingListeners = 0;
};

// The fields of "a=1&b=%E3%81%82" (application/x-www-form-urlencoded, "+" a blank); the first of a
// repeated name wins, and at most 64 fields are read.
QHash<QString, QString> formFields(const QByteArray &encoded);

} // namespace qrb::web
