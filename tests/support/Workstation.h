#pragma once

#include "db/Database.h"

#include <QApplication>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <memory>
#include <vector>

namespace qrb::test {

// Another reception workstation, for the tests that need several at once: the test executable started
// again as "TEST --workstation JOB key=value…". It opens the database named on its command line
// (sqlite=PATH or pg=CONNINFO), says "ready", waits for "go" on its standard input, and then does its
// job through the same db/ functions the screens call. Every step is reported on a line of its own
// (fields split by tabs) the moment it is done, so that a test that kills the workstation still knows
// what it had been told was done.
//
// Jobs and their keys (patience=MS shortens how long a writer waits for another one's lock):
//   register  prefix count date hour [date2 hour2] [spread=1] [answer=ok|cancel]
//             one booking per line, or with date2 a 新型 pair (the second dose its own transaction, as
//             on the entry screen): ok NAME (YNO ADDED)… MS | fail NAME (YNO ADDED)… MS WHY, where the
//             (YNO ADDED) groups are the doses stored (a pair whose second dose failed keeps the first)
//             and MS is how long the clerk waited. A slot found full asks first (asked NAME), and the
//             clerk's answer (OK unless answer=cancel) books anyway or leaves it: full NAME MS.
//             With spread=1 the i-th booking goes to slot i % 10 of the (i / 10)-th day from date.
//             With via=web each booking is a web booking (bookOnline, never over-booked: full NAME MS);
//             with then=cancel each is cancelled at once (cancelOnline, or the desk's cancel by slot and
//             name) before the line is reported.
//   visits    date moves seed     arrivals recorded and cleared as on the visit record:
//                                 set YNO CFLG | gone YNO | fail WHY
//   status    date until=FILE     the status screen's reads until FILE exists:
//                                 read RESERVED VISITED NOTVISITED | bad WHAT | fail WHY
//   settings  count               the settings screen's save, over and over: saved K
//                                 (cell of weekday W and slot S = settingsCell(K, W, S))
bool isWorkstationCall(int argc, char **argv);
int runWorkstation(int argc, char **argv);

// The places the k-th save of a "settings" workstation gives weekday (1…7) and slot (0…9): every save
// differs from the others in every cell.
int settingsCell(int save, int weekday, int slot);

// The name of the i-th patient a "register" workstation books.
QString patientName(const QString &prefix, qsizetype i);

// A workstation started from a test.
class Workstation final
{
public:
    Workstation(const DbTarget &target, const QString &job, const QStringList &settings);
    ~Workstation() { kill(); }
    Q_DISABLE_COPY_MOVE(Workstation)

    bool isRunning() const { return m_process->state() != QProcess::NotRunning; }
    // Finished by itself, with exit code 0.
    bool succeeded() const
    {
        return !isRunning() && m_process->exitStatus() == QProcess::NormalExit && !m_process->exitCode();
    }
    // SIGKILL, as a workstation switched off or a program killed in the task manager.
    void kill()
    {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    // The complete lines reported so far whose first field is `kind` (all of them for an empty kind).
    QList<QStringList> lines(const QString &kind = {});
    // Standard error and how it ended, for a failing test's message.
    QString diagnosis();

private:
    friend bool startTogether(const std::vector<std::unique_ptr<Workstation>> &all, int ms);
    std::unique_ptr<QProcess> m_process = std::make_unique<QProcess>();
    QList<QStringList> m_lines;
};

using Workstations = std::vector<std::unique_ptr<Workstation>>;

// Waits until every one has its database open, then lets them all go at the same moment. False after `ms`.
bool startTogether(const Workstations &all, int ms);
// None is running any more.
bool allFinished(const Workstations &all);

} // namespace qrb::test

// The main() of a test that starts workstations: the job when called as one, the tests otherwise.
#define QRB_WORKSTATION_TEST_MAIN(TestObject)                                                                          \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        if (qrb::test::isWorkstationCall(argc, argv)) {                                                                \
            return qrb::test::runWorkstation(argc, argv);                                                              \
        }                                                                                                              \
        QApplication app(argc, argv);                                                                                  \
        TestObject test;                                                                                               \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
