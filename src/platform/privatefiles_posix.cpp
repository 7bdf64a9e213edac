#include "privatefiles.h"

#include "fileaccess.h"
#include "posixio.h"
#include "privatefolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString writeFileAtomically(const QString &path, const QByteArray &bytes, int mode, bool durable)
{
    AtomicWrite how;
    how.mode = mode;
    how.durable = durable;
    return writeFileAtomically(path, bytes, how);
}

QString writeFileAtomically(const QString &path, const QByteArray &bytes, const AtomicWrite &how, bool *abandoned)
{
    // A link (a dotfile manager's, say) keeps pointing at the file it named.
    const QString canonical = how.followLink ? QFileInfo(path).canonicalFilePath() : QString();
    const QString target = canonical.isEmpty() ? path : canonical;
    const std::optional<QByteArray> encoded = encodedPath(target + QStringLiteral(".glimmerox-XXXXXX"));
    if (!encoded)
        return QStringLiteral("The path %1 holds a NUL character").arg(path);
    QByteArray temporary = *encoded;
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return systemError(QStringLiteral("Cannot create a file beside %1").arg(target), errno);
    const QByteArray finalPath = temporary.left(temporary.size() - int(std::strlen(".glimmerox-XXXXXX")));
    QString failure;
    if (::fchmod(fd, mode_t(how.mode & 07777)) != 0)
        failure = systemError(QStringLiteral("Cannot set the permissions of %1").arg(target), errno);
    else if (!writeAll(fd, bytes))
        failure = systemError(QStringLiteral("Cannot write %1").arg(target), errno);
    else if (how.durable && ::fsync(fd) != 0)
        failure = systemError(QStringLiteral("Cannot flush %1").arg(target), errno);
    if (::close(fd) != 0 && failure.isEmpty())
        failure = systemError(QStringLiteral("Cannot write %1").arg(target), errno);
    if (failure.isEmpty() && how.beforeRename && !how.beforeRename()) {
        failure = QStringLiteral("%1 changed while it was being written").arg(target);
        if (abandoned)
            *abandoned = true;
    }
    if (failure.isEmpty() && ::rename(temporary.constData(), finalPath.constData()) != 0)
        failure = systemError(QStringLiteral("Cannot replace %1").arg(target), errno);
    if (!failure.isEmpty()) {
        ::unlink(temporary.constData());
        return failure;
    }
    if (how.durable) {
        // The rename itself lasts only once the folder's entry is on disk too.
        const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
        if (const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folderFd >= 0) {
            ::fsync(folderFd);
            ::close(folderFd);
        }
    }
    return {};
}

std::optional<QByteArray> readOwnFile(const QString &path, qint64 maxSize)
{
    const std::optional<QByteArray> encoded = encodedPath(path);
    const int fd = encoded ? ::open(encoded->constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::optional<QByteArray> content;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maxSize) {
        content = QByteArray();
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || content->size() + n > maxSize)
                content.reset();
            if (n <= 0 || !content)
                break;
            content->append(buffer, n);
        }
    }
    ::close(fd);
    return content;
}

int filePermissions(const QString &path)
{
    const std::optional<QByteArray> encoded = encodedPath(path);
    struct stat info {};
    if (!encoded || ::stat(encoded->constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

QString ensurePrivateFolder(const QString &path)
{
    const std::optional<QByteArray> encoded = encodedPath(path);
    if (!encoded)
        return QStringLiteral("The path %1 holds a NUL character").arg(path);
    struct stat info {};
    if (::lstat(encoded->constData(), &info) != 0) {
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return QStringLiteral("Cannot create %1").arg(QFileInfo(path).absolutePath());
        if (::mkdir(encoded->constData(), 0700) != 0 && errno != EEXIST)
            return systemError(QStringLiteral("Cannot create %1").arg(path), errno);
        if (::lstat(encoded->constData(), &info) != 0)
            return systemError(QStringLiteral("Cannot reach %1").arg(path), errno);
    }
    // Our own folder, open to others (made under another umask), is closed again; then it must
    // pass the check every private folder passes.
    if (S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 07777) != 0700
        && ::chmod(encoded->constData(), 0700) != 0)
        return systemError(QStringLiteral("Cannot make %1 private").arg(path), errno);
    return privateFolderProblem(path);
}

FileLock::FileLock(const QString &path, std::optional<std::chrono::milliseconds> patience)
{
    const std::optional<QByteArray> encoded = encodedPath(path);
    if (!encoded)
        return;
    m_fd = ::open(encoded->constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        return;
    const auto giveUp = std::chrono::steady_clock::now() + patience.value_or(std::chrono::milliseconds(0));
    int result;
    for (;;) {
        result = ::flock(m_fd, patience ? LOCK_EX | LOCK_NB : LOCK_EX);
        if (result == 0)
            break;
        if (errno == EINTR)
            continue;
        if (!patience || errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= giveUp)
            break;
        ::usleep(2000);
    }
    if (result != 0) {
        m_heldElsewhere = errno == EWOULDBLOCK;
        ::close(m_fd);
        m_fd = -1;
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the last descriptor releases the lock
}
