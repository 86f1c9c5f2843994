#include "Workers.h"

#include "WebApp.h"
#include "db/Database.h"

#include <QThread>

#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qrb::web {

// One worker: its thread, and what lives on it. The database connection, the pages and the server are
// made, used and destroyed on that thread only, as Qt's SQL connections and sockets require.
struct Workers::Worker {
    QThread thread;
    QObject home; // moved to the thread: what runs there is invoked on it
    std::unique_ptr<Database> db;
    std::optional<WebApp> app;
    std::unique_ptr<WebServer> server;

    template <typename F> void run(F &&f)
    {
        QMetaObject::invokeMethod(&home, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }
};

Workers::Workers(ConnectionLimits limits, QObject *parent)
    : QObject(parent)
    , m_limits(limits)
    , m_budget(std::make_shared<ConnectionBudget>(limits))
{
}

Workers::~Workers()
{
    stop();
}

void Workers::start(int count, const DbTarget &target, const Clock &clock, const WebSettings &settings,
                    const mail::Outbox *outbox)
{
    for (int i = 0; i < count; ++i) {
        auto worker = std::make_unique<Worker>();
        Worker *w = worker.get();
        w->thread.setObjectName(u"web%1"_s.arg(i + 1));
        w->home.moveToThread(&w->thread);
        w->thread.start();
        m_workers.push_back(std::move(worker));
        std::exception_ptr failure;
        w->run([&, w, i] {
            try {
                // Named apart from those of any other Workers in the process, as Qt SQL requires.
                w->db = std::make_unique<Database>(u"qrb-web-%1-%2"_s.arg(quintptr(this), 0, 16).arg(i + 1));
                w->db->DB_open(target);
                w->app.emplace(*w->db, clock, settings);
                w->app->setOutbox(outbox);
                w->server = std::make_unique<WebServer>(*w->app, m_limits, m_budget, &m_group);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        if (failure) {
            stop();
            std::rethrow_exception(failure);
        }
        connect(w->server.get(), &WebServer::drained, this, [this] {
            if (--m_draining == 0) {
                emit drained();
            }
        });
    }
}

quint16 Workers::listenOn(const QHostAddress &address, quint16 port, QString *error)
{
    // One socket for all, bound once (a port in use is refused as for one server); each worker listens
    // on a copy of it, and whichever is free takes the next connection from the system's queue.
    QTcpServer socket;
    socket.setListenBacklogSize(m_limits.listenBacklog);
    if (!socket.listen(address, port)) {
        if (error) {
            *error = socket.errorString();
        }
        return 0;
    }
    for (const auto &w : m_workers) {
        const int copy = ::fcntl(int(socket.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        bool listening = false;
        QString why = copy < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
        if (copy >= 0) {
            w->run([&] { listening = w->server->listenOnSocket(copy, &why); });
        }
        if (!listening) {
            if (copy >= 0) {
                ::close(copy);
            }
            if (error) {
                *error = why;
            }
            return 0;
        }
    }
    return socket.serverPort();
}

void Workers::drain()
{
    m_draining = count();
    if (m_draining == 0) {
        emit drained();
    }
    // Waited for: once this returns no worker listens, and a new connection is refused.
    for (const auto &w : m_workers) {
        w->run([server = w->server.get()] { server->drain(); });
    }
}

void Workers::stop()
{
    // No worker accepts any more before the first one ends: none hands a connection to one gone.
    for (const auto &w : m_workers) {
        w->run([w = w.get()] {
            if (w->server) {
                for (GuardedTcpServer *listener : w->server->findChildren<GuardedTcpServer *>()) {
                    listener->close();
                }
            }
        });
    }
    for (const auto &w : m_workers) {
        // The server first (its connections end), then the pages, then the database they used.
        w->run([w = w.get()] {
            w->server.reset();
            w->app.reset();
            w->db.reset();
        });
        w->thread.quit();
        w->thread.wait();
    }
    m_workers.clear();
}

} // namespace qrb::web
