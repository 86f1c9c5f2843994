#include "WholeFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

bool syncPath(const QByteArray &native, int flags)
{
    const int fd = ::open(native.constData(), flags | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

// Every byte handed to the kernel, or false with errno set.
bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

} // namespace

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString commitWholeFile(const QString &written, const QString &path)
{
    const QByteArray from = QFile::encodeName(written);
    if (!syncPath(from, O_RDONLY)) {
        return systemErrorText(errno);
    }
    if (::rename(from.constData(), QFile::encodeName(path).constData()) != 0) {
        return systemErrorText(errno);
    }
    // The rename is an entry of the folder: without this a power cut could bring back the old name.
    syncPath(QFile::encodeName(QFileInfo(path).absolutePath()), O_RDONLY | O_DIRECTORY);
    return {};
}

QString writeWholeFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
    QByteArray temp = QFile::encodeName(target) + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return systemErrorText(errno);
    }
    // The new file keeps the permissions of the one it replaces; a first one gets the usual ones.
    struct stat previous {};
    mode_t mode = 0;
    if (::stat(QFile::encodeName(target).constData(), &previous) == 0) {
        mode = previous.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // A full disk shows at the latest in fsync (data held back by the kernel) or close (network
    // folders), so each is checked before the file may take the name.
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    QString failure = ok ? QString() : systemErrorText(error);
    if (ok) {
        failure = commitWholeFile(QFile::decodeName(temp), target);
    }
    if (!failure.isEmpty()) {
        ::unlink(temp.constData());
    }
    return failure;
}

} // namespace qrb
