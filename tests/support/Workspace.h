#pragma once

#include "Fakes.h"

#include "app/base/ProgramState.h"
#include "db/Database.h"

#include <QTemporaryDir>

#include <memory>

namespace qrb::test {

// A clinic of its own for one test: a temporary folder holding a new database (every slot offering
// `places`), opened, and the program state a screen needs, with fake Dialogs, a fixed Clock
// (2009/10/09 10:30 unless set) and a recording report viewer.
class Workspace
{
public:
    explicit Workspace(int places = 0, const QString &connection = QStringLiteral("qrb-test"));
    ~Workspace();
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    QString folder() const { return dir.path(); }
    QString dbPath() const { return state->config.databasePath(); }
    // Adds a reservation row directly, returning its YNO (the largest plus one).
    int addReservation(const QString &ydate, const QString &ytime, const QString &knm, int cflg = 0,
                       const QString &kno = QString());

    QTemporaryDir dir;
    FakeDialogs dialogs;
    FixedClock clock;
    RecordingViewer viewer;
    Database db;
    std::unique_ptr<ProgramState> state;
};

// The folder holding the built executables (qrb-initdb, …).
QString binDir();

} // namespace qrb::test
