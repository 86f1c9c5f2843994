#pragma once

#include <QtGlobal>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qrb::rush {

// The browsers' side of the rush: plain HTTP/1.1 on kept-alive loopback connections, every browser's
// requests on one epoll loop. It costs a request a few system calls and no copies beyond the answer's
// own, so that on the machine the rush shares with qrb-web the processor time goes to the server
// being measured, not to the program measuring it.
class HttpLoop
{
public:
    // The answer's status (0 when the connection broke before a whole answer came) and its body.
    using Then = std::function<void(int status, std::string_view body)>;

    class Browser;

    explicit HttpLoop(quint16 port);
    ~HttpLoop();
    HttpLoop(const HttpLoop &) = delete;
    HttpLoop &operator=(const HttpLoop &) = delete;

    // Runs the answers' callbacks until quit() is called from one of them, or until qrb-web refuses a
    // connection or leaves every request unanswered for half a minute: then `serverStopped()`.
    void run();
    void quit() { m_quit = true; }
    bool serverStopped() const { return m_stopped; }

private:
    struct Connection;
    friend class Browser;
    Connection *open(Browser &browser);
    void send(Connection &c);
    void receive(Connection &c);
    void drop(Connection &c);

    quint16 m_port;
    int m_epoll = -1;
    bool m_quit = false;
    bool m_stopped = false;
};

// One patient's browser: its cookies, as a browser keeps them, and connections of its own, a second
// one opened when a page is sent while the first is still waiting (a double tap). A 303 is followed
// with a GET on the same connection, and the callback has the page it leads to.
class HttpLoop::Browser
{
public:
    explicit Browser(HttpLoop &loop);
    ~Browser();
    Browser(const Browser &) = delete;
    Browser &operator=(const Browser &) = delete;

    // `form` empty: a GET; otherwise a POST of that urlencoded body. `extraHeaders` lines end in CRLF.
    void request(std::string_view path, const std::string &form, const std::string &extraHeaders, Then then);

private:
    friend class HttpLoop;
    std::string head(std::string_view method, std::string_view path, const std::string &extraHeaders,
                     size_t bodyLength) const;
    void keepCookie(std::string_view setCookie);

    HttpLoop &m_loop;
    std::map<std::string, std::string, std::less<>> m_cookies;
    std::vector<std::unique_ptr<Connection>> m_connections;
};

} // namespace qrb::rush
