#pragma once

#include "WebServer.h"
#include "WebSettings.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

namespace qrb {
class Clock;
struct DbTarget;
} // namespace qrb

namespace qrb::mail {
class Outbox;
}

namespace qrb::web {

// qrb-web's request handlers: threads, each with a database connection, pages and HTTP server of its
// own, on one listening socket. Pages are read in parallel (SQLite's write-ahead log, the server's
// sessions); bookings are written one at a time under the engine's write lock, as between several
// programs on one database, so every rule of a booking holds as it does for one. The connections
// open at once, in all and per client, are counted for all of them together.
class Workers final : public QObject
{
    Q_OBJECT
public:
    explicit Workers(ConnectionLimits limits = {}, QObject *parent = nullptr);
    // Ends every worker, closing its connections and its database.
    ~Workers() override;

    // Starts `count` workers, each opening the database (prepared for the web already). When one
    // cannot, the DbError goes up and no worker is left running.
    void start(int count, const DbTarget &target, const Clock &clock, const WebSettings &settings,
               const mail::Outbox *outbox = nullptr);
    // Listens on the address and port (0: any free port) for every worker; returns the port, or 0
    // with the reason.
    quint16 listenOn(const QHostAddress &address, quint16 port, QString *error);
    // Stops taking connections and lets every worker finish the requests under way; emits drained()
    // when every connection has ended.
    void drain();
    int count() const { return int(m_workers.size()); }
    // Ends every worker: its connections, pages and database connection.
    void stop();

signals:
    void drained();

private:
    struct Worker;

    ConnectionLimits m_limits;
    std::shared_ptr<ConnectionBudget> m_budget;
    ListenerGroup m_group;
    std::vector<std::unique_ptr<Worker>> m_workers;
    int m_draining = 0;
};

} // namespace qrb::web
