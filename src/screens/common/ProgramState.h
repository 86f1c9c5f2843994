#pragma once

#include "Notices.h"
#include "config/IniFile.h"

#include <QString>

namespace qrb {

class Clock;
class Database;
class Dialogs;
class ReportViewer;

// What every screen shares: the configuration read at start-up, the one open database, and the
// seams through which screens learn the time, ask the user, show reports and tell what they wrote.
// Made once in main().
struct ProgramState {
    QString startDir;
    Config config;
    Database &db;
    Clock &clock;
    Dialogs &dialogs;
    ReportViewer &viewer;
    Notices notices{};
};

} // namespace qrb
