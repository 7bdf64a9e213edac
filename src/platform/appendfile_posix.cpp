#include "appendfile.h"

#include "fileaccess.h"
#include "posixio.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
