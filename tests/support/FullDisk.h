#pragma once

#include <QString>
#include <QTemporaryDir>

namespace qrb::test {

// A filesystem that is really full: a small tmpfs mounted on a folder of its own and filled to the
// last byte. Mounting needs root (CI runs as root); a developer without root runs the test in a
// namespace of their own: `unshare -rm ctest -R NAME`. Where the mount is refused, mounted() is false
// and the test skips with that advice.
class FullDisk
{
public:
    FullDisk();
    ~FullDisk();

    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    // Takes every free byte but `room`.
    void fill(qint64 room = 0);
    // Gives the room back.
    void release();

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace qrb::test

// Skips the calling test where no filesystem can be mounted.
#define QRB_REQUIRE_MOUNTED(disk)                                                                                      \
    if (!(disk).mounted())                                                                                             \
    QSKIP("mounting a small tmpfs needs root: run this test under `unshare -rm`")
