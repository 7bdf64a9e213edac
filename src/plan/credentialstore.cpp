#include "credentialstore.h"

#include "fileaccess.h"

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
    // Only a regular file of sensible size is read, so a FIFO in its place cannot hang the fetch.
    return readRegularFile(m_path, maxDocumentSize);
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

QString FileCredentialStore::location() const
{
    const QString home = QDir::homePath();
    if (m_path.startsWith(home + u'/'))
        return u'~' + m_path.mid(home.size());
    return m_path;
}

#ifndef Q_OS_DARWIN
std::shared_ptr<CredentialStore> systemCredentialStore(const QString &claudeDir)
{
    return std::make_shared<FileCredentialStore>(claudeDir + QStringLiteral("/.credentials.json"));
}
#endif
