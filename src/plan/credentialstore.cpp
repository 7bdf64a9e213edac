#include "credentialstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A token document is a few hundred bytes; anything far larger is not Claude Code's file.
constexpr qint64 maxDocumentSize = 1024 * 1024;

// Closes a POSIX descriptor on every way out.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    // Closes now, reporting failure (a late write error shows up here).
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

FileCredentialStore::FileCredentialStore(QString path) : m_path(std::move(path)) { }

std::optional<QByteArray> FileCredentialStore::read() const
{
    // Non-blocking open so a FIFO in the file's place cannot hang the fetch; only a regular
    // file of sensible size is read.
    const QByteArray nativePath = QFile::encodeName(m_path);
    FileDescriptor fd(::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > maxDocumentSize)
        return std::nullopt;
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return bytes;
        bytes.append(buffer, got);
        if (bytes.size() > maxDocumentSize)
            return std::nullopt;
    }
}

// Writes a temporary file beside the target, syncs it, gives it the target's permissions and
// renames it over the target, so the file is always either the old or the new document.
// A symbolic link is followed and its target replaced. Nothing is created when there is no file.
void FileCredentialStore::replace(const QByteArray &bytes)
{
    const QString target = QFileInfo(m_path).canonicalFilePath();
    if (target.isEmpty())
        return;
    const QByteArray nativeTarget = QFile::encodeName(target);
    struct stat original {};
    if (::stat(nativeTarget.constData(), &original) != 0 || !S_ISREG(original.st_mode))
        return;

    QByteArray nativeTemporary = QFile::encodeName(target + QStringLiteral(".glimmerox-XXXXXX"));
    FileDescriptor fd(::mkstemp(nativeTemporary.data()));
    if (fd.get() < 0)
        return;
    const mode_t permissions = original.st_mode & 07777;
    const bool written = writeAll(fd.get(), bytes) && ::fchmod(fd.get(), permissions) == 0
        && ::fsync(fd.get()) == 0 && fd.close()
        && ::rename(nativeTemporary.constData(), nativeTarget.constData()) == 0;
    if (!written) {
        ::unlink(nativeTemporary.constData());
        return;
    }
    // Make the rename itself durable.
    FileDescriptor folder(::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
}

#ifndef Q_OS_DARWIN
std::shared_ptr<CredentialStore> systemCredentialStore(const QString &homeDir)
{
    return std::make_shared<FileCredentialStore>(homeDir + QStringLiteral("/.claude/.credentials.json"));
}
#endif
