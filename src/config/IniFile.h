#pragma once

#include "ClosedDays.h"
#include "db/Database.h"

#include <QList>
#include <QString>

#include <optional>

namespace qrb {

// The values of setting.ini, read once at start-up and never written.
struct Config {
    QString PNM, SYSNM, TITLE;
    QString SYS0, SYS1, SYS2, SYS3, SYS4, SYS5, SYS6, SYS7, SYS8, SYS9;
    QString SVNM, CLNM;
    qint32 TAX = 0; // 0 when missing or no number
    QString MODE;
    QString TXTPATH; // folder of the report files, ending in a separator

    // Section POSTGRESQL, for a clinic whose workstations share one PostgreSQL server.
    struct PostgresKeys {
        QString HOST;     // empty: the SQLite file of SVNM and SYS0; "/…": the folder of a unix socket
        QString PORT;     // empty: 5432
        QString DBNAME;
        QString USER;
        QString PASSWORD; // empty: the client library's password file
        QString SSLMODE;     // empty: the client library's default; require, verify-ca, verify-full
        QString SSLROOTCERT; // the certificate that signed the server's
    } POSTGRESQL;

    // Section CLOSED: the days the clinic is shut (national holidays, its own closures).
    ClosedDays CLOSED;

    // The database file: folder SVNM and file name SYS0.
    QString databasePath() const;
    // The server when HOST is given, otherwise the file. Throws DbError for a PORT that is no port
    // number, or a file whose SYS0 or SVNM is missing, so that start-up reports it like any other
    // database that cannot be opened.
    DbTarget databaseTarget() const;
};

// One key of <startDir>/setting.ini, read as Windows reads a profile: sections and keys match
// regardless of case; the first occurrence wins; blanks around the value are dropped, and then one
// pair of quotes around it; a value is cut at 255 bytes of CP932 without splitting a double-byte
// character; a missing file, section or key gives the default. The file is CP932, or UTF-8 where it
// is valid UTF-8 (with or without a byte-order mark); a file of both gives the defaults.
// Everything after "=" is the value: a "; comment" after it is part of it, as on Windows.
QString ini_read(const QString &startDir, const QString &section, const QString &key, const QString &defaultValue);

// What start-up says when <startDir>/setting.ini is not there (naming the folder looked in), or
// nothing when it is.
std::optional<QString> missingSettingFile(const QString &startDir);

// Why <startDir>/setting.ini cannot be read, naming the line, or nothing when it can (or is not
// there): a file that is not text, or one whose lines are partly UTF-8 and partly CP932. ini_read
// gives the defaults for such a file, so every program checks this first and stops.
std::optional<QString> unreadableSettingFile(const QString &startDir);

// One line of a section as written: where it stands in the file (line 1 first) and its text; with an
// "=" also its key and value, read as ini_read reads them.
struct IniLine {
    int number = 0;
    QString text;
    bool hasValue = false;
    QString key;
    QString value;
};
// Every non-blank line of the first section of that name (its case ignored), in file order, duplicate
// keys included: what a section that lists things (the clinic's closed days) holds.
QList<IniLine> ini_section(const QString &startDir, const QString &section);

// The 18 keys the program knows, in their order, then the optional sections POSTGRESQL and CLOSED.
Config ini_read_all(const QString &startDir);

} // namespace qrb
