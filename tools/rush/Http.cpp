#include "Http.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qrb::rush {

namespace {

bool sameName(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

} // namespace

struct HttpLoop::Connection {
    explicit Connection(Browser &b) : browser(b) {}
    Browser &browser;
    int fd = -1;
    bool busy = false;    // a request sent, its answer not yet whole
    bool writing = false; // waiting for room to send the rest of `out`
    std::string out;
    size_t sent = 0;
    std::string in;
    Then then;
    std::string extraHeaders; // kept for the GET that follows a 303
};

HttpLoop::HttpLoop(quint16 port) : m_port(port), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    if (m_epoll < 0) {
        throw std::runtime_error(std::strerror(errno));
    }
}

HttpLoop::~HttpLoop()
{
    ::close(m_epoll);
}

void HttpLoop::run()
{
    std::array<epoll_event, 128> events{};
    for (int silentSeconds = 0; !m_quit;) {
        const int n = ::epoll_wait(m_epoll, events.data(), int(events.size()), 1000);
        silentSeconds = n == 0 ? silentSeconds + 1 : 0;
        if (silentSeconds == 30) {
            m_stopped = true;
            return;
        }
        for (int i = 0; i < n && !m_quit; ++i) {
            auto *c = static_cast<Connection *>(events.at(size_t(i)).data.ptr);
            if (c->fd < 0) {
                continue;
            }
            if (events.at(size_t(i)).events & EPOLLOUT) {
                send(*c);
            }
            if (c->fd >= 0 && (events.at(size_t(i)).events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
                receive(*c);
            }
        }
    }
}

HttpLoop::Connection *HttpLoop::open(Browser &browser)
{
    // A connection closed earlier is opened again in place: callbacks and events never meet a freed one.
    Connection *c = nullptr;
    for (const auto &candidate : browser.m_connections) {
        if (!candidate->busy && (candidate->fd >= 0 || !c)) {
            c = candidate.get();
            if (c->fd >= 0) {
                return c;
            }
        }
    }
    if (!c) {
        browser.m_connections.push_back(std::make_unique<Connection>(browser));
        c = browser.m_connections.back().get();
    }
    c->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = c;
    // On loopback the connect is done at once; the socket waits without blocking from then on.
    if (c->fd < 0 || ::setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
        ::connect(c->fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::fcntl(c->fd, F_SETFL, O_NONBLOCK) != 0 || ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, c->fd, &event) != 0) {
        if (c->fd >= 0) {
            ::close(c->fd);
        }
        c->fd = -1;
        return nullptr;
    }
    return c;
}

void HttpLoop::send(Connection &c)
{
    while (c.sent < c.out.size()) {
        const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EAGAIN) {
            if (!c.writing) {
                epoll_event event{};
                event.events = EPOLLIN | EPOLLOUT;
                event.data.ptr = &c;
                ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &event);
                c.writing = true;
            }
            return;
        }
        if (n < 0) {
            return drop(c);
        }
        c.sent += size_t(n);
    }
    if (c.writing) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = &c;
        ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &event);
        c.writing = false;
    }
}

void HttpLoop::drop(Connection &c)
{
    ::close(c.fd); // leaves the epoll set with it
    c.fd = -1;
    c.writing = false;
    c.in.clear();
    if (c.busy) {
        c.busy = false;
        Then then = std::move(c.then);
        then(0, {});
    }
}

void HttpLoop::receive(Connection &c)
{
    std::array<char, 65536> buffer; // filled by read
    const ssize_t n = ::read(c.fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EAGAIN) {
        return;
    }
    if (n <= 0) {
        return drop(c);
    }
    c.in.append(buffer.data(), size_t(n));
    const size_t headEnd = c.in.find("\r\n\r\n");
    if (headEnd == std::string::npos || !c.busy) {
        return;
    }
    const std::string_view head(c.in.data(), headEnd);
    int status = 0;
    if (head.size() < 12 || !head.starts_with("HTTP/1.")) {
        return drop(c);
    }
    for (const char d : head.substr(9, 3)) {
        status = status * 10 + (d - '0');
    }
    size_t length = 0;
    bool close = head.starts_with("HTTP/1.0");
    std::string location;
    std::vector<std::string_view> cookies;
    for (size_t at = head.find("\r\n"); at != std::string_view::npos && at < head.size();) {
        const size_t next = head.find("\r\n", at + 2);
        const std::string_view line = head.substr(at + 2, (next == std::string_view::npos ? head.size() : next) - at - 2);
        at = next;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (sameName(name, "content-length")) {
            if (std::from_chars(value.data(), value.data() + value.size(), length).ec != std::errc()) {
                return drop(c);
            }
        } else if (sameName(name, "connection")) {
            close = sameName(value, "close");
        } else if (sameName(name, "location")) {
            location = value;
        } else if (sameName(name, "set-cookie")) {
            cookies.push_back(value);
        } else if (sameName(name, "transfer-encoding")) {
            return drop(c); // qrb-web sends every answer with its length
        }
    }
    const size_t whole = headEnd + 4 + length;
    if (c.in.size() < whole) {
        return;
    }
    // Done with the answer: what follows it is the next one's, unless the connection ends here.
    const auto forget = [&c, close, whole] {
        if (close) {
            c.in.clear();
        } else {
            c.in.erase(0, whole);
        }
    };
    for (const std::string_view cookie : cookies) {
        c.browser.keepCookie(cookie);
    }
    if (close) {
        ::close(c.fd);
        c.fd = -1;
    }
    c.busy = false;
    Then then = std::move(c.then);
    if (status == 303 && !location.empty()) {
        // The page a form's answer leads to, fetched as a browser does, timed with the form it follows.
        if (const size_t scheme = location.find("://"); scheme != std::string::npos) {
            const size_t path = location.find('/', scheme + 3);
            location = path == std::string::npos ? "/" : location.substr(path);
        }
        forget();
        c.browser.request(location, {}, c.extraHeaders, std::move(then));
        return;
    }
    // The body is read in place: nothing reads into this buffer until the callback has returned, even
    // when its next request goes out on this same connection.
    then(status, std::string_view(c.in).substr(headEnd + 4, length));
    forget();
}

HttpLoop::Browser::Browser(HttpLoop &loop) : m_loop(loop) {}

HttpLoop::Browser::~Browser()
{
    for (const auto &c : m_connections) {
        if (c->fd >= 0) {
            ::close(c->fd);
        }
    }
}

std::string HttpLoop::Browser::head(std::string_view method, std::string_view path, const std::string &extraHeaders,
                                    size_t bodyLength) const
{
    std::string head;
    head.reserve(512);
    head.append(method).append(" ").append(path).append(" HTTP/1.1\r\nHost: 127.0.0.1:");
    head.append(std::to_string(m_loop.m_port)).append("\r\n").append(extraHeaders);
    if (!m_cookies.empty()) {
        head.append("Cookie: ");
        for (const auto &[name, value] : m_cookies) {
            head.append(name).append("=").append(value).append("; ");
        }
        head.resize(head.size() - 2);
        head.append("\r\n");
    }
    if (method == "POST") {
        head.append("Content-Type: application/x-www-form-urlencoded\r\nContent-Length: ")
            .append(std::to_string(bodyLength))
            .append("\r\n");
    }
    return head.append("\r\n");
}

void HttpLoop::Browser::keepCookie(std::string_view setCookie)
{
    const std::string_view pair = setCookie.substr(0, setCookie.find(';'));
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    const std::string name(trimmed(pair.substr(0, equals)));
    const std::string_view value = trimmed(pair.substr(equals + 1));
    if (value.empty()) {
        m_cookies.erase(name);
    } else {
        m_cookies[name] = value;
    }
}

void HttpLoop::Browser::request(std::string_view path, const std::string &form, const std::string &extraHeaders,
                                Then then)
{
    Connection *c = m_loop.open(*this);
    if (!c) {
        // qrb-web no longer takes connections: nothing the rush measures can go on.
        m_loop.m_stopped = true;
        m_loop.quit();
        return;
    }
    c->busy = true;
    c->then = std::move(then);
    c->extraHeaders = extraHeaders;
    c->out = head(form.empty() ? "GET" : "POST", path, extraHeaders, form.size()) + form;
    c->sent = 0;
    m_loop.send(*c);
}

} // namespace qrb::rush
