#pragma once

#include "Letters.h"
#include "MailSettings.h"
#include "db/Database.h"

#include <QThread>

namespace qrb {
class Clock;
}

namespace qrb::mail {

// qrb-web's postman on a thread of its own with a database connection of its own, so that no page
// ever waits for the mail server: a round right away, then one every `intervalMs` (retries, reminders,
// mail queued by other qrb-web processes) and one whenever wake() is called. A database that went
// away is opened again on the next round.
class MailService final
{
public:
    MailService(const DbTarget &target, const Clock &clock, const MailSettings &settings, const Letterhead &head,
                int intervalMs = 30 * 1000);
    // Stops: the mail being sent is cut short (it stays queued), the connection is closed.
    ~MailService();
    MailService(const MailService &) = delete;
    MailService &operator=(const MailService &) = delete;

    void start();
    // From any thread.
    void wake();

private:
    class Worker;
    QThread m_thread;
    Worker *m_worker = nullptr;
};

} // namespace qrb::mail
