#pragma once

#include <QString>

namespace qrb {

// The values of setting.ini, read once at start-up and never written.
struct Config {
    QString PNM, SYSNM, TITLE;
    QString SYS0, SYS1, SYS2, SYS3, SYS4, SYS5, SYS6, SYS7, SYS8, SYS9;
    QString SVNM, CLNM;
    qint32 TAX = 0; // 0 when missing or no number
    QString MODE;
    QString TXTPATH; // folder of the report files, ending in a separator

    // The database file: folder SVNM and file name SYS0.
    QString databasePath() const;
};

// One key of <startDir>/setting.ini, read as Windows reads a profile: the file is CP932; sections and
// keys match regardless of case; the first occurrence wins; blanks around the value are dropped; a
// value is cut at 255 bytes without splitting a double-byte character; a missing file, section or key
// gives the default.
QString ini_read(const QString &startDir, const QString &section, const QString &key, const QString &defaultValue);

// The 18 keys the program knows, in their order.
Config ini_read_all(const QString &startDir);

} // namespace qrb
