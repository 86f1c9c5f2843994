#include "WebServer.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

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

namespace {

// What the guard read of one request's head, for the answer: how to end it, who sent it, and where
// the browser says it came from.
struct RequestHead {
    bool close = false; // HTTP/1.0 or "Connection: close": the connection ends with the answer
    QString client;     // the patient's address
    QByteArray host;
    QByteArray origin;
    QByteArray fetchSite;
    bool https = false;
    QStringList held; // the client's address and network, held while this request is under way
};

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 417:
        return "Expectation Failed";
    case 422:
        return "Unprocessable Content";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool isTokenChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

// Header values may hold tabs and any byte from the blank on, but no other control character.
bool isFieldValue(QByteArrayView text)
{
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
    });
}

QByteArray trimmedField(QByteArrayView value)
{
    qsizetype from = 0;
    qsizetype to = value.size();
    while (from < to && (value[from] == ' ' || value[from] == '\t')) {
        ++from;
    }
    while (to > from && (value[to - 1] == ' ' || value[to - 1] == '\t')) {
        --to;
    }
    return value.sliced(from, to - from).toByteArray();
}

} // namespace

// One connection as the guard sees it. Its stream is read here, before Qt's parser reads the same
// bytes, with stricter rules: a request whose end the two could find in different places (two
// lengths, a length beside chunked coding, folded or malformed headers) is refused and the connection
// closed, so that no request can hide inside another one's body.
class Connection final : public QObject
{
    Q_OBJECT
public:
    Connection(QTcpSocket *socket, GuardedTcpServer &server, QStringList heldForLife)
        : QObject(socket)
        , m_socket(socket)
        , m_server(server)
        , m_heldForLife(std::move(heldForLife))
    {
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(server.limits().requestTimeoutMs);
        connect(&m_deadline, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        // Each answer sent gives the client the full time again for its next request on this connection.
        connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            if (m_socket->bytesToWrite() == 0 && m_state == State::Head && m_head.isEmpty()) {
                m_deadline.start();
            }
        });
        m_deadline.start();
    }
    ~Connection() override
    {
        m_server.closed(m_heldForLife);
        for (const RequestHead &head : m_heads) {
            m_server.release(head.held);
        }
    }

    static Connection *of(QTcpSocket *socket)
    {
        return socket->findChild<Connection *>(QString(), Qt::FindDirectChildrenOnly);
    }

    // Connected to readyRead before Qt's parser: reads what arrived since, as far as the framing goes.
    void beforeParser()
    {
        const QByteArray unread = m_socket->peek(m_socket->bytesAvailable());
        feed(QByteArrayView(unread).sliced(qMin(m_seen, unread.size())));
        m_seen = unread.size();
    }
    // Connected after it: what the parser left unread has been seen already.
    void afterParser() { m_seen = m_socket->bytesAvailable(); }

    // The head of the request the parser has just completed: the oldest not yet answered.
    std::optional<RequestHead> takeHead()
    {
        if (m_heads.isEmpty()) {
            return std::nullopt;
        }
        return m_heads.takeFirst();
    }

    // Whether the connection ends with the answer to this request: asked so, or the server stopping.
    bool endsWith(const RequestHead &head) const { return head.close || m_server.draining(); }

    // After the answer: the client's hold ends, and the connection ends if it is to.
    void answered(const RequestHead &head)
    {
        m_server.release(head.held);
        if (endsWith(head)) {
            m_socket->disconnectFromHost();
        }
    }

    // No request under way: nothing of one received, none waiting for its answer.
    bool idle() const { return m_state == State::Head && m_head.isEmpty() && m_heads.isEmpty(); }

private:
    enum class State { Head, Body, Refused };
    static constexpr qsizetype MaxWaitingRequests = 8;

    void feed(QByteArrayView bytes)
    {
        while (!bytes.isEmpty() && m_state != State::Refused) {
            if (m_state == State::Body) {
                const qint64 take = qMin<qint64>(m_bodyLeft, bytes.size());
                m_bodyLeft -= take;
                bytes = bytes.sliced(take);
                if (m_bodyLeft == 0) {
                    m_state = State::Head;
                }
                continue;
            }
            const qsizetype before = m_head.size();
            m_head += bytes;
            // Blank lines before a request line are skipped, as the parser skips them too.
            qsizetype skipped = 0;
            while (m_head.startsWith("\r\n")) {
                m_head.remove(0, 2);
                skipped += 2;
            }
            const qsizetype end = m_head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_head.size() > m_server.limits().maxHeadBytes) {
                    refuse(431, "header too large");
                }
                return;
            }
            // What of this read lies beyond the head belongs to the body or to the next request.
            bytes = bytes.sliced(skipped + end + 4 - before);
            const QByteArray head = m_head.left(end);
            m_head.clear();
            if (head.size() > m_server.limits().maxHeadBytes) {
                return refuse(431, "header too large");
            }
            readHead(head);
        }
    }

    void readHead(const QByteArray &text)
    {
        const QList<QByteArray> lines = text.split('\n');
        static const QRegularExpression requestLine(u"^([!#$%&'*+.^_`|~0-9A-Za-z-]+) (/[!-~]*) HTTP/1\\.([01])$"_s);
        QByteArray first = lines.first();
        if (!first.endsWith('\r') && lines.size() > 1) {
            return refuse(400, "bare line feed");
        }
        first.chop(lines.size() > 1 ? 1 : 0);
        const auto match = requestLine.match(QString::fromLatin1(first));
        if (!match.hasMatch()) {
            return refuse(400, "request line");
        }
        RequestHead head;
        head.close = match.captured(3) == u"0"_s;
        QList<QByteArray> lengths;
        bool chunked = false;
        int hosts = 0;
        QByteArray forwardedFor;
        QByteArray forwardedProto;
        QByteArray expect;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QByteArray line = lines.at(i);
            if (i + 1 < lines.size()) {
                if (!line.endsWith('\r')) {
                    return refuse(400, "bare line feed");
                }
                line.chop(1);
            }
            const qsizetype colon = line.indexOf(':');
            // A line that begins with a blank continues the one before (obsolete folding): one reader
            // may join it and another not, so it is refused, as a blank before the colon is.
            if (colon <= 0 || !isToken(QByteArrayView(line).first(colon))) {
                return refuse(400, "header line");
            }
            const QByteArray name = line.left(colon).toLower();
            const QByteArray value = trimmedField(QByteArrayView(line).sliced(colon + 1));
            if (!isFieldValue(value)) {
                return refuse(400, "control character in a header");
            }
            if (name == "content-length") {
                lengths << value;
            } else if (name == "transfer-encoding") {
                chunked = true;
            } else if (name == "host") {
                ++hosts;
                head.host = value.toLower();
            } else if (name == "connection") {
                for (const QByteArray &option : value.split(',')) {
                    head.close = head.close || trimmedField(option).toLower() == "close";
                }
            } else if (name == "x-forwarded-for") {
                forwardedFor = value;
            } else if (name == "x-forwarded-proto") {
                forwardedProto = value;
            } else if (name == "origin") {
                head.origin = value;
            } else if (name == "sec-fetch-site") {
                head.fetchSite = value.toLower();
            } else if (name == "expect") {
                expect = value.toLower();
            }
        }
        if (hosts > 1 || (hosts == 0 && match.captured(3) == u"1"_s)) {
            return refuse(400, "host");
        }
        qint64 length = 0;
        if (chunked) {
            // A body sent in chunks is never needed for a form; beside a length it is how a request
            // is smuggled past a proxy.
            return lengths.isEmpty() ? refuse(411, "chunked body") : refuse(400, "length and chunked body");
        }
        for (const QByteArray &text : lengths) {
            static const QRegularExpression digits(u"^[0-9]{1,15}$"_s);
            if (!digits.match(QString::fromLatin1(text)).hasMatch()) {
                const auto digit = [](char c) { return c >= '0' && c <= '9'; };
                return text.size() > 15 && std::all_of(text.begin(), text.end(), digit) ? refuse(413, "body too large")
                                                                                        : refuse(400, "length");
            }
            if (text.toLongLong() != lengths.first().toLongLong()) {
                return refuse(400, "two lengths");
            }
            length = text.toLongLong();
        }
        if (length > m_server.limits().maxRequestBytes) {
            return refuse(413, "body too large");
        }
        if (!expect.isEmpty() && expect != "100-continue") {
            return refuse(417, "expectation");
        }

        // Browsers send one request at a time; a client sending dozens ahead only makes the server keep them.
        if (m_heads.size() >= MaxWaitingRequests) {
            return refuse(503, "too many requests sent ahead");
        }

        // The patient's address: the peer, or, when the peer is the reverse proxy on this machine, the
        // address the proxy puts last into X-Forwarded-For (the one it saw itself; earlier ones the
        // client may have written).
        const QHostAddress peer = m_socket->peerAddress();
        head.client = peer.toString();
        if (peer.isLoopback()) {
            const QHostAddress last(QString::fromLatin1(trimmedField(forwardedFor.split(',').last())));
            if (!last.isNull()) {
                head.client = last.toString();
            }
            head.https = forwardedProto.compare("https", Qt::CaseInsensitive) == 0;
            // Behind the proxy a client is known only by its requests: it counts while one is under way.
            const ClientNetworks networks = clientNetworks(head.client);
            const QStringList keys{u"a "_s + networks.address, u"n "_s + networks.network};
            if (!m_server.hold(keys)) {
                return refuse(503, "too many connections from one network");
            }
            head.held = keys;
        }
        m_heads.append(head);
        m_bodyLeft = length;
        m_state = length > 0 ? State::Body : State::Head;
        // A client that asked may send the body now: the head is taken (Qt's parser does not say so).
        if (length > 0 && expect == "100-continue") {
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        }
    }

    void refuse(int status, const char *why)
    {
        m_state = State::Refused;
        m_deadline.stop();
        qInfo().noquote() << "refused:" << status << why;
        QObject::disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
        m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                        "\r\nConnection: close\r\nContent-Length: 0\r\n" +
                        (status == 503 ? "Retry-After: 10\r\n" : "") + "\r\n");
        m_socket->disconnectFromHost();
    }

    QTcpSocket *m_socket;
    GuardedTcpServer &m_server;
    QStringList m_heldForLife; // a direct client's address and network, held while connected
    QTimer m_deadline;
    State m_state = State::Head;
    QByteArray m_head;          // the head received so far
    qint64 m_bodyLeft = 0;      // bytes of the body still to come
    qsizetype m_seen = 0;       // bytes the parser has not read yet but this guard has
    QList<RequestHead> m_heads; // complete heads whose requests have not been answered yet
};

bool ConnectionBudget::hold(const QStringList &keys)
{
    const QMutexLocker lock(&m_mutex);
    for (const QString &key : keys) {
        const int limit = key.startsWith(u"a "_s) ? m_limits.perAddress : m_limits.perNetwork;
        if (m_held.value(key) >= limit) {
            return false;
        }
    }
    for (const QString &key : keys) {
        ++m_held[key];
    }
    return true;
}

void ConnectionBudget::release(const QStringList &keys)
{
    const QMutexLocker lock(&m_mutex);
    for (const QString &key : keys) {
        if (--m_held[key] <= 0) {
            m_held.remove(key);
        }
    }
}

bool ConnectionBudget::open(const QStringList &keys)
{
    {
        const QMutexLocker lock(&m_mutex);
        if (m_open >= m_limits.maxConnections) {
            return false;
        }
        ++m_open;
    }
    if (!hold(keys)) {
        const QMutexLocker lock(&m_mutex);
        --m_open;
        return false;
    }
    return true;
}

void ConnectionBudget::close(const QStringList &keys)
{
    release(keys);
    const QMutexLocker lock(&m_mutex);
    --m_open;
}

void ListenerGroup::add(GuardedTcpServer *listener)
{
    const QMutexLocker lock(&m_mutex);
    m_listeners << listener;
}

void ListenerGroup::remove(GuardedTcpServer *listener)
{
    const QMutexLocker lock(&m_mutex);
    m_listeners.removeAll(listener);
}

GuardedTcpServer *ListenerGroup::assign(GuardedTcpServer *self)
{
    const QMutexLocker lock(&m_mutex);
    GuardedTcpServer *least = self;
    for (GuardedTcpServer *listener : std::as_const(m_listeners)) {
        if (listener->load() < least->load() && !listener->draining()) {
            least = listener;
        }
    }
    ++least->m_load;
    return least;
}

GuardedTcpServer::GuardedTcpServer(ConnectionLimits limits, std::shared_ptr<ConnectionBudget> budget,
                                   ListenerGroup *group, QObject *parent)
    : QTcpServer(parent)
    , m_limits(limits)
    , m_budget(budget ? std::move(budget) : std::make_shared<ConnectionBudget>(limits))
    , m_group(group)
{
    setListenBacklogSize(m_limits.listenBacklog);
    if (m_group) {
        m_group->add(this);
    }
}

GuardedTcpServer::~GuardedTcpServer()
{
    if (m_group) {
        m_group->remove(this);
    }
    for (const QPointer<QTcpSocket> &socket : std::as_const(m_open)) {
        if (socket) {
            disconnect(socket, nullptr, this, nullptr);
            delete socket.data();
        }
    }
}

void GuardedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    GuardedTcpServer *target = this;
    if (m_group) {
        target = m_group->assign(this);
    } else {
        ++m_load;
    }
    if (target == this) {
        serve(socketDescriptor);
    } else {
        // Sockets belong to the thread that serves them: the descriptor crosses, the socket is made there.
        QMetaObject::invokeMethod(
            target, [target, socketDescriptor] { target->serve(socketDescriptor); }, Qt::QueuedConnection);
    }
}

void GuardedTcpServer::serve(qintptr socketDescriptor)
{
    m_open.removeIf([](const QPointer<QTcpSocket> &s) { return s.isNull(); });
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        --m_load;
        delete socket;
        return;
    }
    // A client reaching this server directly is known by its address from the start; one behind the
    // proxy on this machine only by its requests.
    QStringList keys;
    if (!socket->peerAddress().isLoopback()) {
        const ClientNetworks networks = clientNetworks(socket->peerAddress().toString());
        keys = {u"a "_s + networks.address, u"n "_s + networks.network};
    }
    if (m_draining || !m_budget->open(keys)) {
        --m_load;
        socket->abort();
        delete socket;
        return;
    }
    m_open.append(socket);
    // A request stays in this buffer until it is complete: room for the largest head and body allowed.
    socket->setReadBufferSize(2 * (m_limits.maxHeadBytes + m_limits.maxRequestBytes));
    auto *connection = new Connection(socket, *this, keys);
    connect(socket, &QTcpSocket::readyRead, connection, &Connection::beforeParser);
    connect(socket, &QObject::destroyed, this, [this] {
        --m_load;
        connectionGone();
    });
    addPendingConnection(socket);
    // Qt's HTTP server has taken the connection and reads from it now; this runs after it.
    connect(socket, &QTcpSocket::readyRead, connection, &Connection::afterParser);
}

void GuardedTcpServer::drain()
{
    m_draining = true;
    close();
    m_open.removeIf([](const QPointer<QTcpSocket> &s) { return s.isNull(); });
    for (const QPointer<QTcpSocket> &socket : std::as_const(m_open)) {
        if (const Connection *connection = Connection::of(socket); !connection || connection->idle()) {
            socket->disconnectFromHost();
        }
    }
    connectionGone();
}

void GuardedTcpServer::connectionGone()
{
    if (!m_draining) {
        return;
    }
    m_open.removeIf(
        [](const QPointer<QTcpSocket> &s) { return s.isNull() || s->state() == QAbstractSocket::UnconnectedState; });
    if (m_open.isEmpty() && !m_drained) {
        m_drained = true;
        emit drained();
    }
}

WebServer::WebServer(WebApp &app, ConnectionLimits limits, std::shared_ptr<ConnectionBudget> budget,
                     ListenerGroup *group, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_app(app)
    , m_limits(limits)
    , m_budget(budget ? std::move(budget) : std::make_shared<ConnectionBudget>(limits))
    , m_group(group)
{
}

quint16 WebServer::listenOn(const QHostAddress &address, quint16 port, QString *error)
{
    auto *tcp = new GuardedTcpServer(m_limits, m_budget, m_group, this);
    if (!tcp->listen(address, port)) {
        if (error) {
            *error = tcp->errorString();
        }
        delete tcp;
        return 0;
    }
    addListener(tcp);
    return tcp->serverPort();
}

bool WebServer::listenOnSocket(qintptr socketDescriptor, QString *error)
{
    auto *tcp = new GuardedTcpServer(m_limits, m_budget, m_group, this);
    if (!tcp->setSocketDescriptor(socketDescriptor)) {
        if (error) {
            *error = tcp->errorString();
        }
        delete tcp;
        return false;
    }
    addListener(tcp);
    return true;
}

void WebServer::addListener(GuardedTcpServer *tcp)
{
    bind(tcp);
    m_listeners << tcp;
    connect(tcp, &GuardedTcpServer::drained, this, [this] {
        if (--m_drainingListeners == 0) {
            emit drained();
        }
    });
}

void WebServer::drain()
{
    m_drainingListeners = int(m_listeners.size());
    if (m_listeners.isEmpty()) {
        emit drained();
    }
    for (GuardedTcpServer *listener : std::as_const(m_listeners)) {
        listener->drain();
    }
}

namespace {

QByteArray formCookie(const QHttpServerRequest &request, bool https)
{
    const QByteArray name = formCookieName(https) + '=';
    for (const auto &[header, value] : request.headers()) {
        if (header.compare("cookie", Qt::CaseInsensitive) != 0) {
            continue;
        }
        for (const QByteArray &part : value.split(';')) {
            const QByteArray item = part.trimmed();
            if (item.startsWith(name)) {
                return item.mid(name.size());
            }
        }
    }
    return {};
}

// Whether the browser says the request was sent from a page of another site: its Origin is not this
// site's (as the proxy names it in Host, with the scheme it spoke), or, where it sends no Origin, its
// Sec-Fetch-Site is not same-origin. A browser that sends neither is judged by the form token alone.
bool fromAnotherSite(const RequestHead &head)
{
    if (!head.origin.isEmpty()) {
        return head.origin.toLower() != (head.https ? "https://" : "http://") + head.host;
    }
    return !head.fetchSite.isEmpty() && head.fetchSite != "same-origin" && head.fetchSite != "none";
}

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
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
    Connection *connection = Connection::of(socket);
    const std::optional<RequestHead> head = connection ? connection->takeHead() : std::nullopt;
    if (!head) {
        socket->abort(); // never: every request passes the guard first
        return true;
    }
    Request r;
    const QByteArray method = methodName(request.method());
    // HEAD is answered as GET is, without the body.
    r.method = method == "HEAD" ? QByteArray("GET") : method;
    r.path = request.url().path();
    r.query = formFields(request.url().query(QUrl::FullyEncoded).toLatin1());
    r.client = head->client;
    r.https = head->https;
    r.cookie = formCookie(request, r.https);
    r.crossSite = r.method == "POST" && fromAnotherSite(*head);
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

    const bool close = connection->endsWith(*head);
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) +
                        "\r\nContent-Type: " + response.contentType +
                        "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                        // No script at all, nothing from elsewhere: the stylesheet and the forms are our own.
                        // The address of a page goes to no other site; within the site the browser sends
                        // it, and with it the Origin of every form (under "no-referrer" that is "null").
                        "\r\nContent-Security-Policy: default-src 'none'; style-src 'self'; img-src 'self'; "
                        "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"
                        "\r\nX-Frame-Options: DENY\r\nReferrer-Policy: same-origin\r\nX-Content-Type-Options: nosniff"
                        "\r\nCache-Control: " + response.cacheControl + "\r\n";
    if (close) {
        answer += "Connection: close\r\n";
    }
    for (const auto &[name, value] : response.headers) {
        answer += name + ": " + value + "\r\n";
    }
    answer += "\r\n";
    if (method != "HEAD") {
        answer += response.body;
    }
    socket->write(answer);
    // The path only: the query may hold a day, never patient data, but logs stay plain either way.
    qInfo().noquote() << method << logText(r.path) << response.status << timer.elapsed() << "ms";
    connection->answered(*head);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest &, QTcpSocket *)
{
    // handleRequest answers every request, unknown paths included.
}

} // namespace qrb::web

#include "WebServer.moc"
