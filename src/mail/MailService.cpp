#include "MailService.h"

#include "Postman.h"

#include <QDebug>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qrb::mail {

class MailService::Worker final : public QObject
{
public:
    Worker(const DbTarget &target, const Clock &clock, const MailSettings &settings, const Letterhead &head,
           int intervalMs)
        : m_target(target)
        , m_postman(m_db, clock, settings, head)
        , m_intervalMs(intervalMs)
    {
    }

    // On the worker's thread: the timer and the connection belong to it.
    void begin()
    {
        m_timer = new QTimer(this);
        QObject::connect(m_timer, &QTimer::timeout, this, [this] { round(); });
        m_timer->start(m_intervalMs);
        round();
    }
    void round()
    {
        try {
            if (!m_db.isOpen()) {
                m_db.DB_open(m_target);
            }
            m_postman.runOnce();
        } catch (const DbError &error) {
            qWarning().noquote() << "mail: database:" << error.message();
            m_db.DB_close();
        }
    }
    void end()
    {
        delete m_timer;
        m_timer = nullptr;
        m_db.DB_close();
    }
    void abort() { m_postman.abort(); }

private:
    DbTarget m_target;
    Database m_db{u"qrb-mail"_s};
    Postman m_postman;
    int m_intervalMs;
    QTimer *m_timer = nullptr;
};

MailService::MailService(const DbTarget &target, const Clock &clock, const MailSettings &settings,
                         const Letterhead &head, int intervalMs)
    : m_worker(new Worker(target, clock, settings, head, intervalMs))
{
    m_thread.setObjectName(u"qrb-mail"_s);
    m_worker->moveToThread(&m_thread);
}

MailService::~MailService()
{
    if (m_thread.isRunning()) {
        m_worker->abort();
        Worker *worker = m_worker;
        QMetaObject::invokeMethod(
            m_worker, [worker] { worker->end(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    delete m_worker;
}

void MailService::start()
{
    m_thread.start();
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker] { worker->begin(); }, Qt::QueuedConnection);
}

void MailService::wake()
{
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker] { worker->round(); }, Qt::QueuedConnection);
}

} // namespace qrb::mail
