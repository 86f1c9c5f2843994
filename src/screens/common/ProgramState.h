#pragma once

#include "config/IniFile.h"

#include <QString>

namespace qrb {

class Clock;
class Database;
class Dialogs;
class ReportViewer;

// What every screen shares: the configuration read at start-up, the one open database, and the
// seams through which screens learn the time, ask the user and show reports. Made once in main().
struct ProgramState {
    QString startDir;
    Config config;
    Database &db;
    Clock &clock;
    Dialogs &dialogs;
    ReportViewer &viewer;
};

} // namespace qrb
