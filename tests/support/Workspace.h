#pragma once

#include "Fakes.h"
#include "TestServer.h"

#include "db/Booking.h"
#include "db/Database.h"
#include "screens/common/ProgramState.h"

#include <QTemporaryDir>

#include <memory>

namespace qrb::test {

// A clinic of its own for one test: a temporary folder, a new database (every slot offering
// `places`), opened, and the program state a screen needs, with fake Dialogs, a fixed Clock
// (2009/10/09 10:30 unless set) and a recording report viewer. The database is a file in the folder,
// or, when the tests run on PostgreSQL (QRB_TEST_PG), a database of its own on that server; the
// configuration names it either way.
class Workspace
{
public:
    explicit Workspace(int places = 0, const QString &connection = QStringLiteral("qrb-test"));
    Q_DISABLE_COPY_MOVE(Workspace)

    QString folder() const { return dir.path(); }
    // The SQLite file (on PostgreSQL a path where no file is).
    QString dbPath() const { return state->config.databasePath(); }
    // What the program opens: the file, or the database on the server.
    DbTarget target() const { return state->config.databaseTarget(); }
    bool onPostgres() const { return scratch.has_value(); }
    // Adds a reservation row directly, returning its YNO (the largest plus one).
    int addReservation(const QString &ydate, const QString &ytime, const QString &knm, int cflg = 0,
                       const QString &kno = QString());

    QTemporaryDir dir;
    FakeDialogs dialogs;
    FixedClock clock;
    RecordingViewer viewer;
    std::optional<ScratchDatabase> scratch; // outlives db, which must let go of it first
    Database db;
    std::unique_ptr<ProgramState> state;
};

// A first-dose booking (SFLG 1, SCNT 1) of `knm`, as the entry screen fills it.
BookingRecord bookingOf(const QString &knm, const QString &ydate = QStringLiteral("2009/10/09"),
                        const QString &ytime = QStringLiteral("10"), const QString &kno = QString());

// The folder holding the built executables (qrb-initdb, …).
QString binDir();

} // namespace qrb::test
