#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace qrb::web {

// SIGTERM (systemctl stop) and SIGINT (Ctrl+C) as a Qt signal: the handler only writes a byte into
// a socket pair, and received() is emitted from the event loop, where stopping may safely begin.
// One instance per process.
class StopSignals final : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void received(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace qrb::web
