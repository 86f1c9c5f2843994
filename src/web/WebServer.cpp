#include "WebServer.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qrb::web {

QHash<QString, QString> formFields(const QByteArray &encoded)
{
    constexpr int MaxFields = 64;
    QHash<QString, QString> fields;
    for (const QByteArray &pair : encoded.split('&')) {
        if (pair.isEmpty() || fields.size() >= MaxFields) {
            continue;
        }
        const qsizetype eq = pair.indexOf('=');
        const auto decode = [](QByteArray part) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(part.replace('+', ' ')));
        };
        const QString name = decode(eq < 0 ? pair : pair.left(eq));
        if (!fields.contains(name)) {
            fields.insert(name, eq < 0 ? QString() : decode(pair.mid(eq + 1)));
        }
    }
    return fields;
}

GuardedTcpServer::GuardedTcpServer(ConnectionLimits limits, QObject *parent)
    : QTcpServer(parent)
    , m_limits(limits)
{
}

void GuardedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    m_open.removeIf([](const QPointer<QTcpSocket> &s) { return s.isNull(); });
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    if (m_open.size() >= m_limits.maxConnections) {
        socket->abort();
        delete socket;
        return;
    }
    m_open.append(socket);
    // The whole request stays in this buffer until it is complete; a full buffer means a request
    // larger than any form, answered 413 before the HTTP server reads any of it.
    socket->setReadBufferSize(m_limits.maxRequestBytes);
    connect(socket, &QTcpSocket::readyRead, socket, [socket, max = m_limits.maxRequestBytes] {
        if (socket->bytesAvailable() >= max) {
            QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            socket->write("HTTP/1.1 413 Payload Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
        }
    });
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    deadline->setInterval(m_limits.requestTimeoutMs);
    connect(deadline, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    // Each answer sent gives the client the full time again for its next request on this connection.
    connect(socket, &QTcpSocket::bytesWritten, deadline, [socket, deadline] {
        if (socket->bytesToWrite() == 0) {
            deadline->start();
        }
    });
    deadline->start();
    addPendingConnection(socket);
    emit newConnection();
}

WebServer::WebServer(WebApp &app, ConnectionLimits limits, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_app(app)
    , m_limits(limits)
{
}

quint16 WebServer::listenOn(const QHostAddress &address, quint16 port, QString *error)
{
    auto *tcp = new GuardedTcpServer(m_limits, this);
    if (!tcp->listen(address, port)) {
        if (error) {
            *error = tcp->errorString();
        }
        delete tcp;
        return 0;
    }
    bind(tcp);
    return tcp->serverPort();
}

namespace {

// The patient's address: the peer, or, when the peer is the reverse proxy on this machine, the
// address the proxy puts last into X-Forwarded-For (the one it saw itself; earlier ones the client
// may have written).
QString clientAddress(const QHttpServerRequest &request)
{
    const QHostAddress peer = request.remoteAddress();
    if (peer.isLoopback()) {
        const QList<QByteArray> forwarded = request.value("X-Forwarded-For").split(',');
        const QHostAddress last(QString::fromLatin1(forwarded.last().trimmed()));
        if (!last.isNull()) {
            return last.toString();
        }
    }
    return peer.toString();
}

QByteArray formCookie(const QHttpServerRequest &request)
{
    for (const auto &[name, value] : request.headers()) {
        if (name.compare("cookie", Qt::CaseInsensitive) != 0) {
            continue;
        }
        for (const QByteArray &part : value.split(';')) {
            const QByteArray item = part.trimmed();
            if (item.startsWith("qrb_form=")) {
                return item.mid(9);
            }
        }
    }
    return {};
}

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    default:
        return "OTHER";
    }
}

} // namespace

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QElapsedTimer timer;
    timer.start();
    Request r;
    r.method = methodName(request.method());
    r.path = request.url().path();
    r.query = formFields(request.url().query(QUrl::FullyEncoded).toLatin1());
    r.cookie = formCookie(request);
    r.client = clientAddress(request);
    r.https = request.value("X-Forwarded-Proto").compare("https", Qt::CaseInsensitive) == 0;
    Response response;
    const QByteArray type = request.value("Content-Type").split(';').first().trimmed().toLower();
    if (r.method == "POST" && type != "application/x-www-form-urlencoded") {
        response.status = 415;
        response.contentType = "text/plain; charset=utf-8";
        response.body = "Unsupported Media Type\n";
    } else {
        r.form = r.method == "POST" ? formFields(request.body()) : QHash<QString, QString>();
        response = m_app.handle(r);
    }

    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(response.status));
    responder.writeHeader("Content-Type", response.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(response.body.size()));
    // No script at all, nothing from elsewhere: the stylesheet and the forms are our own.
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
                          "base-uri 'none'; frame-ancestors 'none'");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Cache-Control", r.path == u"/style.css"_s ? "max-age=3600" : "no-store");
    for (const auto &[name, value] : response.headers) {
        responder.writeHeader(name, value);
    }
    responder.writeBody(response.body);
    // The path only: the query may hold a day, never patient data, but logs stay plain either way.
    qInfo().noquote() << r.method << r.path << response.status << timer.elapsed() << "ms";
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest &, QTcpSocket *)
{
    // handleRequest answers every request, unknown paths included.
}

} // namespace qrb::web
