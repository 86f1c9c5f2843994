#include "FullDisk.h"

#include <QFile>

#include <sys/mount.h>

#include <algorithm>

namespace qrb::test {

FullDisk::FullDisk()
{
    m_mounted = ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, "size=1m,mode=0777") == 0;
}

FullDisk::~FullDisk()
{
    if (m_mounted) {
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
}

void FullDisk::fill(qint64 room)
{
    QFile filler(m_dir.filePath(QStringLiteral(".filler")));
    if (filler.open(QIODevice::Append | QIODevice::Unbuffered)) {
        // Pages while they fit, then byte by byte: the last byte is taken too.
        for (const qint64 block : {4096, 1}) {
            while (filler.write(QByteArray(block, 'x')) == block) {
            }
        }
        filler.resize(std::max<qint64>(0, filler.size() - room));
    }
}

void FullDisk::release()
{
    QFile::remove(m_dir.filePath(QStringLiteral(".filler")));
}

} // namespace qrb::test
