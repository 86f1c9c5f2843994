#pragma once

#include <QByteArray>
#include <QString>

namespace qrb {

// Writing a file so that it reaches the disk whole or not at all. Every file the program writes
// (reports, the viewer's PDF, backups) goes through here: the bytes go into a new file beside the
// final name, are flushed to the disk and checked there, and only then take the name in one step.
// A full disk, a missing permission or a killed process therefore never leaves a cut-short file
// under the name, and never costs the file that had the name before.

// Writes `bytes` as the file `path`, replacing an earlier one (a symbolic link is followed, so the
// file it points at is replaced and the link stays). Returns an empty text on success, otherwise the
// system's reason; then the earlier file is as it was and nothing of the attempt is left behind.
QString writeWholeFile(const QString &path, const QByteArray &bytes);

// Puts a file written completely under the name `written` in place as `path`: flushes it to the
// disk, renames it over `path` in one step, and flushes the folder so that the new name lasts.
// Returns an empty text on success, otherwise the system's reason (`written` is then left to the
// caller). Both must lie in the same folder.
QString commitWholeFile(const QString &written, const QString &path);

// The system's text for an errno value.
QString systemErrorText(int error);

} // namespace qrb
