#pragma once

#include "WebApp.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>

namespace qrb::web {

// What one connection may cost the server. Qt's HTTP server keeps a request in memory until it is
// complete and sets no time limit of its own: these bound both, so that neither a huge request nor a
// slow client (one byte at a time) can hold the server or its memory.
struct ConnectionLimits {
    qint64 maxRequestBytes = 16 * 1024; // headers and body of one request; the forms need a few kB
    int requestTimeoutMs = 10000;       // to send a whole request, counted from the connection or the last answer
    int maxConnections = 256;           // open at once; beyond, new ones are closed at once
};

// Accepts connections within ConnectionLimits and hands them to the HTTP server.
class GuardedTcpServer final : public QTcpServer
{
    Q_OBJECT
public:
    explicit GuardedTcpServer(ConnectionLimits limits, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    ConnectionLimits m_limits;
    QList<QPointer<QTcpSocket>> m_open;
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

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    WebApp &m_app;
    ConnectionLimits m_limits;
};

// The fields of "a=1&b=%E3%81%82" (application/x-www-form-urlencoded, "+" a blank); the first of a
// repeated name wins, and at most 64 fields are read.
QHash<QString, QString> formFields(const QByteArray &encoded);

} // namespace qrb::web
