#include "appendfile.h"

#include "fileaccess.h"
#include "posixio.h"

#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TryFileLock::TryFileLock(const QString &path, std::chrono::milliseconds budget)
{
    const std::optional<QByteArray> encoded = encodedPath(path);
    if (!encoded)
        return;
    m_fd = ::open(encoded->constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return;
    // A holder keeps the lock for one small write or one rewrite: a few short tries are enough.
    constexpr std::chrono::milliseconds pause(5);
    for (std::chrono::milliseconds waited(0);; waited += pause) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited + pause > budget)
            break;
        QThread::msleep(pause.count());
    }
    ::close(m_fd);
    m_fd = -1;
}

TryFileLock::~TryFileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the last descriptor releases the lock
}

QString appendToFile(const QString &path, const QByteArray &bytes, int mode, qint64 maxSize)
{
    const std::optional<QByteArray> encoded = encodedPath(path);
    if (!encoded)
        return QStringLiteral("The path %1 holds a NUL character").arg(path);
    const int fd = ::open(encoded->constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                          mode_t(mode & 07777));
    if (fd < 0)
        return systemError(QStringLiteral("Cannot open %1").arg(path), errno);
    struct stat info {};
    QString failure;
    if (::fstat(fd, &info) != 0)
        failure = systemError(QStringLiteral("Cannot reach %1").arg(path), errno);
    else if (!S_ISREG(info.st_mode))
        failure = QStringLiteral("%1 is not a regular file").arg(path);
    else if (info.st_size >= maxSize)
        failure = QStringLiteral("%1 is full").arg(path);
    else if (!writeAll(fd, bytes))
        failure = systemError(QStringLiteral("Cannot write %1").arg(path), errno);
    ::close(fd);
    return failure;
}
