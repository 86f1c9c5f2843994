// qrb-web as the internet meets it: requests written byte by byte on raw connections, crowds of
// connections, forms posted from elsewhere, attempts counted per network, and the real program stopped
// by a signal, run in another time zone and run twice on one database.
#include "support/Common.h"
#include "support/Workspace.h"

#include "db/WebBooking.h"
#include "web/WebApp.h"
#include "web/WebServer.h"
#include "web/Workers.h"
#include "web/WebSettings.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QTimeZone>
#include <QUrlQuery>

#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace qrb;

namespace {

using Headers = QList<std::pair<QByteArray, QByteArray>>;
using Form = QList<std::pair<QString, QString>>;

// A confirm page's nonce no booking was stored under: a booking attempt that reaches the limits and
// the form's checks (without one, /book refuses the request before counting it).
const QString AnyNonce = u"0123456789abcdef0123456789abcdef"_s;

// The answer to one request: status, headers (names in lower case) and body.
struct Answer {
    int status = 0;
    QHash<QByteArray, QByteArray> headers;
    QByteArray body;
};

// Splits the first whole answer off `bytes` (Content-Length framed; none for HEAD); nothing while it
// is incomplete.
std::optional<Answer> takeAnswer(QByteArray &bytes, bool head = false)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0) {
        return std::nullopt;
    }
    Answer a;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    a.status = lines.first().mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        a.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = head ? 0 : a.headers.value("content-length").toLongLong();
    if (bytes.size() < end + 4 + length) {
        return std::nullopt;
    }
    a.body = bytes.mid(end + 4, length);
    bytes.remove(0, end + 4 + length);
    return a;
}

// One connection written to byte by byte, as a client library never would.
class Raw
{
public:
    explicit Raw(quint16 port, const QHostAddress &to = QHostAddress::LocalHost)
    {
        socket.connectToHost(to, port);
        socket.waitForConnected(5000);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // The next answer, waited for while the server (in this process) works.
    std::optional<Answer> answer(bool head = false)
    {
        std::optional<Answer> a;
        [[maybe_unused]] const bool finished = QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                a = takeAnswer(received, head);
                return a || socket.state() == QAbstractSocket::UnconnectedState;
            },
            10000);
        return a;
    }
    // Whether the server has closed the connection (waited for).
    bool closedByServer()
    {
        return QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            10000);
    }
    QTcpSocket socket;
    QByteArray received; // read but not yet taken as an answer
};

QByteArray get(const QByteArray &path, const QByteArray &extra = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

// A patient's browser: its own cookies, and the form token of the last page it saw.
class Browser
{
public:
    Answer send(quint16 port, const QString &path, const Form &form = {}, const Headers &headers = {})
    {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path)));
        for (const auto &[name, value] : headers) {
            request.setRawHeader(name, value);
        }
        QUrlQuery query;
        for (const auto &[k, v] : form) {
            query.addQueryItem(k, QString::fromLatin1(QUrl::toPercentEncoding(v)));
        }
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        std::unique_ptr<QNetworkReply> reply(
            form.isEmpty() ? nam.get(request) : nam.post(request, query.query(QUrl::FullyEncoded).toLatin1()));
        [[maybe_unused]] const bool finished = QTest::qWaitFor([&] { return reply->isFinished(); }, 20000);
        Answer a;
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        for (const auto &[name, value] : reply->rawHeaderPairs()) {
            a.headers.insert(name.toLower(), value);
        }
        a.body = reply->readAll();
        if (const QString token = field(a.body, u"csrf"_s); !token.isEmpty()) {
            csrf = token;
        }
        return a;
    }
    static QString field(const QByteArray &html, const QString &name)
    {
        return QRegularExpression(u"name=\"%1\" value=\"([^\"]*)\""_s.arg(name))
            .match(QString::fromUtf8(html))
            .captured(1)
            .replace(u"&amp;"_s, u"&"_s);
    }
    // Books the first slot the site offers, from the days page on; the done page.
    Answer bookFirstSlot(quint16 port, quint16 bookOn = 0, const QString &name = u"山田 花子"_s)
    {
        const auto link = [&](const QString &path, const QString &pattern) {
            return QRegularExpression(pattern).match(QString::fromUtf8(send(port, path).body)).captured(1);
        };
        const QString slot = link(link(u"/"_s, u"href=\"(/day\\?d=[0-9-]+)\""_s), u"href=\"/form\\?(d=[^\"]+)\""_s);
        const QUrlQuery dh(QString(slot).replace(u"&amp;"_s, u"&"_s));
        send(port, u"/form?"_s + dh.toString()); // the form's token
        Form typed = QUrlQuery(u"name=%1&kana=ヤマダ ハナコ&birth=1985-04-12&tel=090-1234-5678&kno=&visited=1&kind=0&"
                               "second=&remarks="_s.arg(name))
                         .queryItems(QUrl::FullyDecoded);
        typed << std::pair(u"csrf"_s, csrf) << std::pair(u"date"_s, dh.queryItemValue(u"d"_s))
              << std::pair(u"hour"_s, dh.queryItemValue(u"h"_s));
        const QByteArray confirm = send(port, u"/confirm"_s, typed).body;
        Form sent;
        static const QRegularExpression hidden(u"<input type=\"hidden\" name=\"([a-z]+)\""_s);
        for (auto it = hidden.globalMatch(QString::fromUtf8(confirm)); it.hasNext();) {
            const QString field = it.next().captured(1);
            sent.append({field, Browser::field(confirm, field)});
        }
        return send(bookOn ? bookOn : port, u"/book"_s, sent);
    }
    static int yno(const Answer &done)
    {
        return QRegularExpression(u"id=\"yno\">([0-9]+)<"_s).match(QString::fromUtf8(done.body)).captured(1).toInt();
    }

    QNetworkAccessManager nam;
    QString csrf;
};

// qrb-web in this process, on the workspace's database, its clock at 2009/10/09 (Friday) 10:30; with
// `workers`, answered by that many workers on threads of their own.
class Served
{
public:
    explicit Served(web::ConnectionLimits limits = {}, int perMinute = 60,
                    const QHostAddress &address = QHostAddress::LocalHost, int workers = 0)
        : ws(5)
        , app(ws.db, ws.clock, settings(perMinute))
        , server(app, limits)
    {
        prepareWebBooking(ws.db);
        if (workers > 0) {
            threads = std::make_unique<web::Workers>(limits);
            threads->start(workers, ws.target(), ws.clock, settings(perMinute));
            port = threads->listenOn(address, 0, nullptr);
        } else {
            port = server.listenOn(address, 0, nullptr);
        }
    }
    static web::WebSettings settings(int perMinute)
    {
        return {.kinds = {web::Kind::Seasonal},
                .perMinute = perMinute,
                .clinic = {},
                .tel = {},
                .notice = {},
                .closed = {}};
    }
    test::Workspace ws;
    web::WebApp app;
    web::WebServer server;
    std::unique_ptr<web::Workers> threads;
    quint16 port = 0;
};

// A running qrb-web, the program itself, in the workspace's folder.
class Program
{
public:
    Program(const test::Workspace &ws, const QByteArray &webSection = {}, const QByteArray &zone = {})
    {
        static quint16 next = 18200;
        for (; port == 0 && next < 18300; ++next) {
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost, next)) {
                port = next;
            }
        }
        QByteArray ini = "[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=" + ws.folder().toUtf8() + "\r\n";
        if (ws.onPostgres()) {
            const PgServer pg = ws.scratch->server();
            ini += "[POSTGRESQL]\r\nHOST=" + pg.host.toUtf8() + "\r\nPORT=" + QByteArray::number(pg.port) +
                   "\r\nDBNAME=" + pg.dbname.toUtf8() + "\r\nUSER=" + pg.user.toUtf8() +
                   "\r\nPASSWORD=" + pg.password.toUtf8() + "\r\n";
        }
        ini += "[WEB]\r\nPORT=" + QByteArray::number(port) + "\r\n" + webSection;
        test::writeFileBytes(ws.folder() + u"/setting.ini"_s, ini);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!zone.isEmpty()) {
            environment.insert(u"TZ"_s, QString::fromLatin1(zone));
        }
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(ws.folder());
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(test::binDir() + u"/tools/qrb-web"_s, {});
        started = waitForLog(u"で受付中"_s);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    // Whether the program has written `text` to its log (waited for).
    bool waitForLog(const QString &text)
    {
        return QTest::qWaitFor(
                   [&] {
                       log += QString::fromUtf8(process.readAllStandardError());
                       return log.contains(text) || process.state() == QProcess::NotRunning;
                   },
                   20000) &&
               log.contains(text);
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }

    QProcess process;
    quint16 port = 0;
    bool started = false;
    QString log;
};

// How often the network retransmitted on a connection (SYN included): 0 when nothing was lost.
int retransmissions(int fd)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 ? int(info.tcpi_total_retrans) : -1;
}

} // namespace

class TestWebServer : public QObject
{
    Q_OBJECT

private slots:
    // A request whose end two readers could find in different places is refused and its connection
    // closed, and what it carried is never answered as a request of its own.
    void ambiguousRequestsAreRefusedAndClosed_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        const QByteArray smuggled = "0\r\n\r\nGET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n";
        QTest::newRow("length beside chunked")
            << "POST /form HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(smuggled.size()) +
                   "\r\nTransfer-Encoding: chunked\r\n\r\n" + smuggled
            << 400;
        QTest::newRow("two lengths")
            << "POST /form HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Length: 45\r\n\r\n" + smuggled << 400;
        QTest::newRow("length list") << "POST /form HTTP/1.1\r\nHost: x\r\nContent-Length: 5, 45\r\n\r\n" + smuggled
                                     << 400;
        QTest::newRow("chunked alone") << "POST /form HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                              smuggled
                                       << 411;
        QTest::newRow("folded header") << "GET / HTTP/1.1\r\nHost: x\r\nX-A: 1\r\n Content-Length: 45\r\n\r\n" +
                                              smuggled
                                       << 400;
        QTest::newRow("blank before colon")
            << "GET / HTTP/1.1\r\nHost: x\r\nContent-Length : 45\r\n\r\n" + smuggled << 400;
        QTest::newRow("bare line feed") << "GET / HTTP/1.1\nHost: x\nContent-Length: 45\n\n" + smuggled << 400;
        QTest::newRow("two hosts") << "GET / HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n" + smuggled << 400;
        QTest::newRow("no host") << "GET / HTTP/1.1\r\n\r\n" + smuggled << 400;
        QTest::newRow("control in path") << "GET /a\tb HTTP/1.1\r\nHost: x\r\n\r\n" + smuggled << 400;
        QTest::newRow("nine requests sent ahead") << get("/").repeated(9) << 503;
        QTest::newRow("header over 8 KiB") << "GET / HTTP/1.1\r\nHost: x\r\nX-A: " + QByteArray(9000, 'a') << 431;
        // Announced, not yet sent: refused at once instead of when the rest would have arrived.
        QTest::newRow("body over 16 KiB")
            << "POST /form HTTP/1.1\r\nHost: x\r\nContent-Length: 16385\r\n\r\nname="_ba << 413;
        QTest::newRow("length beyond any number")
            << "POST /form HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999999999999999\r\n\r\n"_ba << 413;
    }
    void ambiguousRequestsAreRefusedAndClosed()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        Served site;
        Raw raw(site.port);
        raw.send(request);
        const std::optional<Answer> answer = raw.answer();
        QVERIFY(answer);
        QCOMPARE(answer->status, status);
        QCOMPARE(answer->headers.value("connection"), "close");
        QVERIFY(raw.closedByServer());
        QVERIFY2(!raw.received.contains("HTTP/1.1"), raw.received.constData()); // nothing answered the smuggled request
        // Everyone else goes on being served.
        Raw next(site.port);
        next.send(get("/"));
        QCOMPARE(next.answer()->status, 200);
    }

    // HEAD is answered as GET without the body, so the answer that follows on the connection starts
    // where the client expects it; requests sent ahead are answered in turn; a client that asks for
    // the connection to end has it ended.
    void headAndConnectionEnds_data()
    {
        QTest::addColumn<QByteArray>("requests");
        QTest::addColumn<QList<bool>>("heads"); // per answer: to a HEAD
        QTest::addColumn<bool>("closes");
        QTest::newRow("HEAD, then GET") << "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"_ba << QList<bool>{true} << false;
        QTest::newRow("HTTP/1.1 stays") << get("/") << QList<bool>{false} << false;
        QTest::newRow("sent ahead") << get("/") + "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n" + get("/")
                                    << QList<bool>{false, true, false} << false;
        QTest::newRow("Connection: close")
            << get("/", "Connection: keep-alive, close\r\n") << QList<bool>{false} << true;
        QTest::newRow("HTTP/1.0") << "GET / HTTP/1.0\r\n\r\n"_ba << QList<bool>{false} << true;
        QTest::newRow("HTTP/1.0, keep-alive asked")
            << "GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"_ba << QList<bool>{false} << true;
    }
    void headAndConnectionEnds()
    {
        QFETCH(QByteArray, requests);
        QFETCH(QList<bool>, heads);
        QFETCH(bool, closes);
        Served site;
        Raw raw(site.port);
        raw.send(requests);
        for (const bool head : heads) {
            const std::optional<Answer> a = raw.answer(head);
            QVERIFY(a);
            QCOMPARE(a->status, 200);
            QVERIFY(a->headers.value("content-length").toInt() > 500); // the length of the page a GET gets
            QCOMPARE(a->body.isEmpty(), head);
            QCOMPARE(a->headers.value("connection") == "close", closes);
        }
        if (closes) {
            QVERIFY(raw.closedByServer());
            QVERIFY(raw.received.isEmpty());
            return;
        }
        raw.send(get("/style.css"));
        const std::optional<Answer> next = raw.answer();
        QVERIFY(next);
        QCOMPARE(next->headers.value("content-type"), "text/css; charset=utf-8");
        QVERIFY(raw.received.isEmpty());
    }

    // Whatever a client puts into a path (a CR LF, a backslash, a tab) is written into the log
    // escaped, so that it cannot begin a forged line of its own.
    void logLinesCannotBeForged()
    {
        static QStringList logged;
        logged.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) { logged << text; });
        {
            Served site;
            Raw raw(site.port);
            raw.send(get("/x%0d%0aPOST%20/book%20200%200%20ms%5c%09"));
            QCOMPARE(raw.answer()->status, 404);
        }
        qInstallMessageHandler(previous);
        const QStringList requests = logged.filter(u"GET "_s);
        QCOMPARE(requests.size(), 1);
        QVERIFY2(QRegularExpression(u"^GET /x\\\\x0d\\\\x0aPOST /book 200 0 ms\\\\x5c\\\\x09 404 [0-9]+ ms$"_s)
                     .match(requests.first())
                     .hasMatch(),
                 qPrintable(requests.first()));
        for (const QString &line : std::as_const(logged)) {
            QVERIFY2(!line.contains(u'\r') && !line.contains(u'\n'), qPrintable(line));
        }
    }

    // Half-sent requests from one network take at most its share of the connections; everybody else
    // keeps the rest. Behind the proxy a client is known by X-Forwarded-For while its request is under
    // way; reaching the server directly, by its address from the start.
    void slowClientsTakeOnlyTheirNetworksShare_data()
    {
        QTest::addColumn<QByteArrayList>("attackers"); // the address each half-sent request comes from
        QTest::addColumn<int>("held");                 // how many of them the server keeps waiting
        QTest::addColumn<int>("workers");              // 0: one server on the test's thread
        const auto many = [](const char *pattern, int n) {
            QByteArrayList list;
            for (int i = 1; i <= n; ++i) {
                list << QByteArray(pattern).replace("%", QByteArray::number(i));
            }
            return list;
        };
        QTest::newRow("one address") << many("203.0.113.7", 8) << 4 << 0;
        QTest::newRow("one IPv4 /24") << many("203.0.113.%", 10) << 6 << 0;
        QTest::newRow("one IPv6 /64") << many("2001:db8:1:2::%", 8) << 4 << 0;
        QTest::newRow("one IPv6 /48") << many("2001:db8:1:%::1", 10) << 6 << 0;
        QTest::newRow("IPv4 written as IPv6") << many("::ffff:203.0.113.%", 10) << 6 << 0;
        QTest::newRow("different networks") << many("198.51.%.1", 12) << 12 << 0;
        // The connections spread over the workers; the limits count them all together.
        QTest::newRow("one address, 3 workers") << many("203.0.113.7", 8) << 4 << 3;
        QTest::newRow("one IPv4 /24, 3 workers") << many("203.0.113.%", 10) << 6 << 3;
        QTest::newRow("different networks, 3 workers") << many("198.51.%.1", 12) << 12 << 3;
    }
    void slowClientsTakeOnlyTheirNetworksShare()
    {
        QFETCH(QByteArrayList, attackers);
        QFETCH(int, held);
        QFETCH(int, workers);
        Served site({.maxConnections = 20, .perAddress = 4, .perNetwork = 6}, 60, QHostAddress::LocalHost, workers);
        std::vector<std::unique_ptr<Raw>> slow;
        int refused = 0;
        for (const QByteArray &address : attackers) {
            slow.push_back(std::make_unique<Raw>(site.port));
            // "100 Continue" says the head was taken and the server waits for the body.
            slow.back()->send("POST /form HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: " + address +
                              "\r\nExpect: 100-continue\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: 100\r\n\r\n");
            const std::optional<Answer> a = slow.back()->answer();
            QVERIFY(a && (a->status == 100 || a->status == 503));
            if (a->status == 503) {
                QVERIFY(slow.back()->closedByServer());
                ++refused;
            }
        }
        QCOMPARE(int(attackers.size()) - refused, held);
        Raw patient(site.port);
        patient.send(get("/", "X-Forwarded-For: 192.0.2.77\r\n"));
        QCOMPARE(patient.answer()->status, 200);
    }

    void directClientsAreCountedFromTheirConnection()
    {
        QHostAddress own;
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() &&
                !address.isLinkLocal()) {
                own = address;
            }
        }
        QVERIFY2(!own.isNull(), "this machine needs an address other than loopback for this test");
        Served site({.maxConnections = 20, .perAddress = 4, .perNetwork = 6}, 60, QHostAddress::Any);
        // Connections that never send a byte: the fifth from the same address is closed unanswered.
        std::vector<std::unique_ptr<Raw>> idle;
        for (int i = 0; i < 5; ++i) {
            idle.push_back(std::make_unique<Raw>(site.port, own));
        }
        QVERIFY(idle.back()->closedByServer());
        QVERIFY(idle.back()->received.isEmpty());
        QCOMPARE(idle.front()->socket.state(), QAbstractSocket::ConnectedState);
        Raw local(site.port);
        local.send(get("/"));
        QCOMPARE(local.answer()->status, 200);
    }

    // A season-opening burst: 500 connections made while the server is busy are all held by the
    // system until it takes them (none waits for a retransmitted SYN), then all answered.
    void aBurstOf500ConnectionsIsAnsweredWithoutRetry()
    {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = files.rlim_max;
        QVERIFY(setrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur > 1200);
        Served site;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(site.port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::vector<pollfd> clients(500);
        // The server's event loop does not run while they connect: only the listening queue holds them.
        for (pollfd &c : clients) {
            c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(c.fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            c.events = POLLOUT;
        }
        const auto allConnected = [&] {
            ::poll(clients.data(), clients.size(), 0);
            return std::all_of(clients.begin(), clients.end(), [](const pollfd &c) { return c.revents & POLLOUT; });
        };
        QVERIFY(QTest::qWaitFor(allConnected, 20000));
        int retried = 0;
        for (const pollfd &c : clients) {
            retried += retransmissions(c.fd) != 0;
        }
        QCOMPARE(retried, 0);
        const QByteArray request = get("/style.css", "Connection: close\r\n");
        for (const pollfd &c : clients) {
            QCOMPARE(::write(c.fd, request.constData(), request.size()), request.size());
        }
        std::vector<QByteArray> answers(clients.size());
        std::vector<bool> done(clients.size(), false);
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (size_t i = 0; i < clients.size(); ++i) {
                    char buffer[4096];
                    ssize_t n = 0;
                    while (!done[i] && (n = ::read(clients[i].fd, buffer, sizeof buffer)) > 0) {
                        answers[i].append(buffer, n);
                    }
                    done[i] = done[i] || n == 0;
                }
                return std::all_of(done.begin(), done.end(), [](bool d) { return d; });
            },
            60000));
        int answered = 0;
        for (size_t i = 0; i < clients.size(); ++i) {
            answered += answers[i].startsWith("HTTP/1.1 200 OK\r\n");
            ::close(clients[i].fd);
        }
        QCOMPARE(answered, 500);
    }

    // The form cookie is the site's own: one it issued is never replaced (the form in the patient's
    // other tab stays valid, also when she comes back from a link on another site), one it never
    // issued is replaced and takes no form, behind HTTPS it is __Host- only; and a form posted from a
    // page of another site is refused whatever it carries.
    void formsComeOnlyFromTheSitesOwnPages_data()
    {
        QTest::addColumn<QByteArray>("cookie"); // sent with the form: the issued one's value is VALUE
        QTest::addColumn<Headers>("headers");
        QTest::addColumn<int>("status");
        const Headers none;
        QTest::newRow("same origin") << "qrb_form=VALUE"_ba
                                     << Headers{{"Origin", "http://127.0.0.1:PORT"}, {"Sec-Fetch-Site", "same-origin"}}
                                     << 200;
        QTest::newRow("no origin, no fetch site") << "qrb_form=VALUE"_ba << none << 200;
        QTest::newRow("another site") << "qrb_form=VALUE"_ba << Headers{{"Origin", "https://evil.example"}} << 403;
        QTest::newRow("another port") << "qrb_form=VALUE"_ba << Headers{{"Origin", "http://127.0.0.1:1"}} << 403;
        QTest::newRow("opaque origin") << "qrb_form=VALUE"_ba << Headers{{"Origin", "null"}} << 403;
        QTest::newRow("cross-site, no origin")
            << "qrb_form=VALUE"_ba << Headers{{"Sec-Fetch-Site", "cross-site"}} << 403;
        QTest::newRow("a neighbouring subdomain")
            << "qrb_form=VALUE"_ba << Headers{{"Sec-Fetch-Site", "same-site"}} << 403;
        QTest::newRow("a cookie never issued") << "qrb_form=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"_ba << none << 403;
        const Headers https{{"X-Forwarded-Proto", "https"}};
        QTest::newRow("HTTPS, __Host-") << "__Host-qrb_form=VALUE"_ba << https << 200;
        QTest::newRow("HTTPS, plain name") << "qrb_form=VALUE"_ba << https << 403;
    }
    void formsComeOnlyFromTheSitesOwnPages()
    {
        QFETCH(QByteArray, cookie);
        QFETCH(Headers, headers);
        QFETCH(int, status);
        Served site;
        Raw raw(site.port);
        QByteArray extra;
        for (auto [name, value] : headers) {
            extra += name + ": " + value.replace("PORT", QByteArray::number(site.port)) + "\r\n";
        }
        const bool https = extra.contains("X-Forwarded-Proto: https");
        raw.send(get("/check", https ? "X-Forwarded-Proto: https\r\n" : ""));
        const Answer first = *raw.answer();
        const QByteArray issued = first.headers.value("set-cookie");
        QVERIFY2(QRegularExpression(
                     https ? u"^__Host-qrb_form=[0-9a-f]{32}\\.[0-9a-f]{32}; Path=/; HttpOnly; SameSite=Lax; Secure$"_s
                           : u"^qrb_form=[0-9a-f]{32}\\.[0-9a-f]{32}; Path=/; HttpOnly; SameSite=Lax$"_s)
                     .match(QString::fromLatin1(issued))
                     .hasMatch(),
                 issued.constData());
        const QByteArray value = issued.mid(issued.indexOf('=') + 1, 65);
        cookie.replace("VALUE", value);
        // Opened again from a link on another site: the cookie is kept, and so is the token; a cookie
        // the site never issued gets the page of a new one.
        raw.send(get("/check", extra + "Sec-Fetch-Site: cross-site\r\nCookie: " + cookie + "\r\n"));
        const Answer again = *raw.answer();
        const QByteArray token = Browser::field(again.body, u"csrf"_s).toLatin1();
        const bool kept = cookie == issued.left(issued.indexOf(';'));
        QCOMPARE(again.headers.contains("set-cookie"), !kept);
        QCOMPARE(token == Browser::field(first.body, u"csrf"_s).toLatin1(), kept);

        const QByteArray body = "csrf=" + token + "&date=2009-10-13&hour=10";
        raw.send("POST /form HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(site.port) + "\r\n" + extra +
                 "Cookie: " + cookie + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QCOMPARE(raw.answer()->status, status);
    }

    // Bookings and wrong cancel codes are counted per address and per network: many addresses of one
    // IPv6 /64 are one address, and the addresses of one /24 or /48 share a larger allowance.
    void attemptsAreCountedPerAddressAndNetwork_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("pattern"); // % replaced by the attempt's number
        QTest::addColumn<int>("allowed");
        QTest::newRow("bookings, one /64") << u"/book"_s << u"2001:db8:1:2::%"_s << 12;
        QTest::newRow("bookings, one /48") << u"/book"_s << u"2001:db8:1:%::1"_s << 40;
        QTest::newRow("bookings, one /24") << u"/book"_s << u"203.0.113.%"_s << 40;
        QTest::newRow("bookings, one /24 written as IPv6") << u"/book"_s << u"::ffff:203.0.113.%"_s << 40;
        QTest::newRow("wrong codes, one /24") << u"/check"_s << u"203.0.113.%"_s << 20;
    }
    void attemptsAreCountedPerAddressAndNetwork()
    {
        QFETCH(QString, path);
        QFETCH(QString, pattern);
        QFETCH(int, allowed);
        Served site;
        Browser patient;
        patient.send(site.port, u"/check"_s);
        const auto attempt = [&](int i, const QString &p) {
            return patient
                .send(site.port, path, {{u"csrf"_s, patient.csrf}, {u"yno"_s, u"1"_s}, {u"nonce"_s, AnyNonce}},
                      {{"X-Forwarded-For", QString(p).replace(u'%', QString::number(i)).toLatin1()}})
                .status;
        };
        for (int i = 1; i <= allowed; ++i) {
            QVERIFY2(attempt(i, pattern) != 429, qPrintable(QString::number(i)));
        }
        const Answer refused = patient.send(site.port, path, {{u"csrf"_s, patient.csrf}, {u"nonce"_s, AnyNonce}},
                                            {{"X-Forwarded-For", QString(pattern).replace(u'%', u"250"_s).toLatin1()}});
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.headers.value("retry-after").toInt() > 0);
        // Another network is not affected.
        QVERIFY(attempt(1, u"198.51.100.%"_s) != 429);
    }

    // However many networks send them, the site takes only so many web bookings a minute; a refused
    // or failed attempt does not use the site's allowance.
    void theSiteTakesSoManyBookingsAMinute()
    {
        Served site({}, 2);
        Browser patient;
        patient.send(site.port, u"/check"_s);
        QCOMPARE(patient.send(site.port, u"/book"_s, {{u"csrf"_s, patient.csrf}}).status, 400);
        QCOMPARE(patient.bookFirstSlot(site.port, 0, u"一郎"_s).status, 200);
        QCOMPARE(patient.bookFirstSlot(site.port, 0, u"二郎"_s).status, 200);
        const Answer third = patient.bookFirstSlot(site.port, 0, u"三郎"_s);
        QCOMPARE(third.status, 429);
        QVERIFY(third.headers.value("retry-after").toInt() <= 60);
        QVERIFY(QString::fromUtf8(third.body).contains(u"ただいまWeb予約が混み合っています。"_s));
        QCOMPARE(site.ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 2);
    }

    // systemctl stop (SIGTERM) or Ctrl+C (SIGINT): no new connection is taken, the request under way
    // is answered, the database is closed (on SQLite with its log folded into the file) and the
    // program ends with 0; the file copied alone holds the last booking.
    void aStopSignalFinishesTheRequestAndClosesTheDatabase_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void aStopSignalFinishesTheRequestAndClosesTheDatabase()
    {
        QFETCH(int, signal);
        test::Workspace ws(5);
        ws.db.DB_close(); // the program's connection is the file's last one
        // Three workers: the connections below are spread over them, and every one drains.
        Program web(ws, "WORKERS=3\r\n");
        QVERIFY2(web.started, qPrintable(web.log));
        Browser patient;
        const Answer done = patient.bookFirstSlot(web.port);
        QCOMPARE(done.status, 200);
        // Connections the program has taken: one idle after its answer, one whose request is under way
        // (the program has said "100 Continue" to its head), one that never finishes its request.
        Raw idle(web.port);
        idle.send(get("/style.css"));
        QCOMPARE(idle.answer()->status, 200);
        Raw underWay(web.port);
        underWay.send("POST /form HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 6\r\n\r\n");
        QCOMPARE(underWay.answer()->status, 100);
        Raw neverEnds(web.port);
        neverEnds.send(get("/style.css"));
        QCOMPARE(neverEnds.answer()->status, 200);
        neverEnds.send("GET / HTTP/1.1\r\n");

        web.signal(signal);
        QVERIFY(web.waitForLog(u"stopping on signal"_s));
        QVERIFY(idle.closedByServer());
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, web.port);
        QVERIFY(!late.waitForConnected(5000));
        underWay.send("csrf=x");
        const std::optional<Answer> answered = underWay.answer();
        QVERIFY(answered);
        QCOMPARE(answered->status, 403);
        QCOMPARE(answered->headers.value("connection"), "close");
        QVERIFY(web.process.waitForFinished(20000));
        QCOMPARE(web.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(web.process.exitCode(), 0);
        if (ws.onPostgres()) {
            ws.db.DB_open(ws.target());
            QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE YNO = ?"_s, {Browser::yno(done)}).toInt(), 1);
            return;
        }
        QVERIFY(!QFileInfo::exists(ws.dbPath() + u"-wal"_s));
        QVERIFY(!QFileInfo::exists(ws.dbPath() + u"-shm"_s));
        QTemporaryDir copy;
        QVERIFY(QFile::copy(ws.dbPath(), copy.filePath(u"yoyaku.db"_s)));
        Database alone(u"copy"_s);
        alone.DB_open(copy.filePath(u"yoyaku.db"_s));
        QCOMPARE(alone.scalar(u"SELECT KNM FROM YOYAKU WHERE YNO = ?"_s, {Browser::yno(done)}).toString(),
                 u"山田 花子"_s);
    }

    // The clinic's day is that of its time zone, whatever zone the machine runs in: the first day the
    // page offers is today there. The zones of the second row are 25 hours apart, so their dates
    // always differ.
    void todayIsTheClinicsDay_data()
    {
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QByteArray>("clinic");
        QTest::newRow("machine in UTC, clinic by default in Japan") << "UTC"_ba << QByteArray() << "Asia/Tokyo"_ba;
        QTest::newRow("a day apart") << "Pacific/Pago_Pago"_ba
                                     << "Pacific/Kiritimati"_ba
                                     << "Pacific/Kiritimati"_ba;
    }
    void todayIsTheClinicsDay()
    {
        QFETCH(QByteArray, machine);
        QFETCH(QByteArray, setting);
        QFETCH(QByteArray, clinic);
        test::Workspace ws(5);
        Program web(ws, setting.isEmpty() ? QByteArray() : "TIMEZONE=" + setting + "\r\n", machine);
        QVERIFY2(web.started, qPrintable(web.log));
        const QDate before = QDateTime::currentDateTimeUtc().toTimeZone(QTimeZone(clinic)).date();
        Browser patient;
        const QString page = QString::fromUtf8(patient.send(web.port, u"/"_s).body);
        const QDate after = QDateTime::currentDateTimeUtc().toTimeZone(QTimeZone(clinic)).date();
        const QRegularExpressionMatch shown = QRegularExpression(u"([0-9]+)月([0-9]+)日"_s).match(page);
        const auto sameDay = [&](QDate d) {
            return shown.captured(1).toInt() == d.month() && shown.captured(2).toInt() == d.day();
        };
        QVERIFY2(sameDay(before) || sameDay(after), qPrintable(page.left(2000)));
    }

    // Two qrb-web on one database serve a patient as one: a form opened on one is accepted by the
    // other, a lock-out on one holds on the other, and a network's attempts count on both together.
    void twoProgramsOnOneDatabaseServeAsOne()
    {
        test::Workspace ws(5);
        Program first(ws);
        QVERIFY2(first.started, qPrintable(first.log));
        Program second(ws); // its own port, in the same folder
        QVERIFY2(second.started, qPrintable(second.log));

        Browser patient;
        const Answer done = patient.bookFirstSlot(first.port, second.port);
        QCOMPARE(done.status, 200);
        const int yno = Browser::yno(done);
        QVERIFY(yno > 0);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE YNO = ?"_s, {yno}).toInt(), 1);

        const auto check = [&](quint16 port, const QByteArray &from) {
            return patient
                .send(port, u"/check"_s,
                      {{u"csrf"_s, patient.csrf},
                       {u"yno"_s, QString::number(yno)},
                       {u"code"_s, u"AAAA-AAAA-AAAA-AAAA"_s}},
                      {{"X-Forwarded-For", from}})
                .status;
        };
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(check(i % 2 ? first.port : second.port, "203.0.113.7"), 403);
        }
        QCOMPARE(check(first.port, "203.0.113.7"), 429);
        QCOMPARE(check(second.port, "203.0.113.7"), 429);

        // 40 booking attempts from one /24, sent to both in turn: the next is refused by either.
        for (int i = 1; i <= 40; ++i) {
            QVERIFY(patient
                        .send(i % 2 ? first.port : second.port, u"/book"_s, {{u"csrf"_s, patient.csrf}, {u"nonce"_s, AnyNonce}},
                              {{"X-Forwarded-For", "198.51.100." + QByteArray::number(i)}})
                        .status != 429);
        }
        QCOMPARE(
            patient.send(first.port, u"/book"_s, {{u"csrf"_s, patient.csrf}, {u"nonce"_s, AnyNonce}}, {{"X-Forwarded-For", "198.51.100.99"}})
                .status,
            429);
        QCOMPARE(
            patient.send(second.port, u"/book"_s, {{u"csrf"_s, patient.csrf}, {u"nonce"_s, AnyNonce}}, {{"X-Forwarded-For", "198.51.100.98"}})
                .status,
            429);
    }
};

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
