#include "fileaccess.h"
#include "filehandle_posix.h"
#include "posixio.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileStatus statusOf(const struct stat &info)
{
#ifdef __APPLE__
    const timespec &time = info.st_mtimespec;
#else
    const timespec &time = info.st_mtim;
#endif
    return {qint64(info.st_dev), qint64(info.st_ino), qint64(info.st_size),
            FileTime{qint64(time.tv_sec), qint64(time.tv_nsec)}, S_ISREG(info.st_mode)};
}

} // namespace

std::optional<QByteArray> encodedPath(const QString &path)
{
    if (path.contains(QChar(u'\0')))
        return std::nullopt;
    return QFile::encodeName(path);
}

Directory::Directory(const QString &path)
    : m_path(path)
{
    if (const std::optional<QByteArray> name = encodedPath(path))
        m_handle = handleOf(::open(name->constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Directory::~Directory()
{
    if (isOpen())
        ::close(descriptorOf(m_handle));
}

namespace {

// The folder to resolve a name in: the open directory, or the working directory for whole paths.
int folderDescriptor(FileHandle folder)
{
    return folder == FileHandle::invalid ? AT_FDCWD : descriptorOf(folder);
}

} // namespace

RegularFile::RegularFile(const QString &path)
{
    open(FileHandle::invalid, path);
}

RegularFile::RegularFile(const Directory &folder, const QString &name, bool listedRegular)
{
    Q_ASSERT(!name.contains(u'/'));
    if (folder.isOpen())
        open(folder.handle(), name, listedRegular);
    else
        open(FileHandle::invalid, folder.path() + u'/' + name);
}

void RegularFile::open(FileHandle folder, const QString &path, bool listedRegular)
{
    const std::optional<QByteArray> name = encodedPath(path);
    if (!name) {
        m_error = QStringLiteral("Path holds a NUL character");
        return;
    }
    const int at = folderDescriptor(folder);
    struct stat info;
    // Checked before opening so that a FIFO or device is never opened at all; a listing that
    // said "regular file" checked it already, with the same window closed below.
    if (!listedRegular && ::fstatat(at, name->constData(), &info, 0) != 0) {
        m_missing = errno == ENOENT;
        m_error = systemErrorText(errno);
        return;
    }
    if (!listedRegular && !S_ISREG(info.st_mode)) {
        m_error = QStringLiteral("Not a regular file");
        return;
    }
    // O_NONBLOCK and the second check close the window in which the name could be swapped for
    // a FIFO between the two calls; on a regular file the flag has no effect.
    const int fd = ::openat(at, name->constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_missing = errno == ENOENT;
        m_error = systemErrorText(errno);
        return;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        m_error = QStringLiteral("Not a regular file");
        ::close(fd);
        return;
    }
    m_handle = handleOf(fd);
    m_status = statusOf(info);
}

RegularFile::~RegularFile()
{
    if (isOpen())
        ::close(descriptorOf(m_handle));
}

qint64 RegularFile::read(char *buffer, qint64 capacity)
{
    if (!isOpen())
        return -1;
    for (;;) {
        const ssize_t count = ::read(descriptorOf(m_handle), buffer, size_t(capacity));
        if (count >= 0 || errno != EINTR) {
            m_position = count >= 0 && m_position >= 0 ? m_position + count : -1;
            return count;
        }
    }
}

bool RegularFile::seek(qint64 offset)
{
    if (!isOpen())
        return false;
    if (offset == m_position)
        return true;
    m_position = ::lseek(descriptorOf(m_handle), off_t(offset), SEEK_SET) == off_t(offset) ? offset : -1;
    return m_position == offset;
}

ReadResult readSmallFile(const QString &path, qint64 maxSize)
{
    RegularFile file(path);
    if (!file.isOpen())
        return {{}, file.error(), file.isMissing()};
    const auto tooLarge = [maxSize] { return ReadResult{{}, QStringLiteral("Larger than %1 bytes").arg(maxSize)}; };
    if (file.size() > maxSize)
        return tooLarge();
    // The size may change while reading: read to the end, but never past maxSize.
    QByteArray data(qsizetype(file.size()) + 1, Qt::Uninitialized);
    qint64 length = 0;
    for (;;) {
        if (length == data.size()) {
            if (data.size() > maxSize)
                return tooLarge();
            data.resize(std::min<qint64>(data.size() * 2, maxSize + 1));
        }
        const qint64 count = file.read(data.data() + length, data.size() - length);
        if (count < 0)
            return {{}, systemErrorText(errno)};
        if (count == 0)
            break;
        length += count;
    }
    if (length > maxSize)
        return tooLarge();
    data.truncate(qsizetype(length));
    return {data, {}};
}

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxSize)
{
    ReadResult result = readSmallFile(path, maxSize);
    return result.ok() ? std::optional(std::move(result.data)) : std::nullopt;
}

namespace {

// Calls onEntry(name, listedRegular) for each name in the directory but "." and "..";
// false when it cannot be listed.
template<typename OnEntry>
bool forEachEntry(const QString &path, OnEntry &&onEntry)
{
    const std::optional<QByteArray> name = encodedPath(path);
    DIR *dir = name ? ::opendir(name->constData()) : nullptr;
    if (!dir)
        return false;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        onEntry(QFile::decodeName(name), entry->d_type == DT_REG);
    }
    ::closedir(dir);
    return true;
}

} // namespace

std::optional<QStringList> listDirectory(const QString &path)
{
    QStringList names;
    if (!forEachEntry(path, [&names](QString name, bool) { names.append(std::move(name)); }))
        return std::nullopt;
    return names;
}

std::optional<QList<DirectoryEntry>> listDirectoryEntries(const QString &path)
{
    QList<DirectoryEntry> entries;
    if (!forEachEntry(path, [&entries](QString name, bool regular) { entries.append({std::move(name), regular}); }))
        return std::nullopt;
    return entries;
}

std::optional<FileStatus> fileStatus(const QString &path)
{
    const std::optional<QByteArray> name = encodedPath(path);
    struct stat info;
    if (!name || ::stat(name->constData(), &info) != 0)
        return std::nullopt;
    return statusOf(info);
}

std::optional<FileStatus> fileStatus(const Directory &folder, const QString &name)
{
    Q_ASSERT(!name.contains(u'/'));
    if (!folder.isOpen())
        return fileStatus(folder.path() + u'/' + name);
    const std::optional<QByteArray> encoded = encodedPath(name);
    struct stat info;
    if (!encoded || ::fstatat(descriptorOf(folder.handle()), encoded->constData(), &info, 0) != 0)
        return std::nullopt;
    return statusOf(info);
}

bool isProcessRunning(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max())
        return false;
    return ::kill(pid_t(pid), 0) == 0;
}
