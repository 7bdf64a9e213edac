#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <compare>
#include <cstdint>
#include <optional>

// What differs from one operating system to the next, behind one small interface:
// fileaccess_posix.cpp serves Linux and macOS; another system adds a file of its own.

// A file's modification time as the file system keeps it, compared to the nanosecond.
struct FileTime
{
    qint64 seconds = 0;
    qint64 nanoseconds = 0;

    friend auto operator<=>(const FileTime &, const FileTime &) = default;
};

// What a stat of a path (links followed) tells about the file it names.
struct FileStatus
{
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = 0;
    FileTime modified;
    bool regular = false;

    friend bool operator==(const FileStatus &, const FileStatus &) = default;
};

// An open file as the operating system names it (a descriptor on Linux and macOS, a HANDLE on
// Windows). Opaque outside the platform files, which alone convert it.
enum class FileHandle : std::intptr_t { invalid = -1 };

// An open directory whose files are then reached by name alone: a folder of thousands of files
// costs one walk of its path instead of one per file.
class Directory
{
public:
    explicit Directory(const QString &path);
    ~Directory();
    Q_DISABLE_COPY_MOVE(Directory)

    bool isOpen() const { return m_handle != FileHandle::invalid; }
    const QString &path() const { return m_path; }
    FileHandle handle() const { return m_handle; }

private:
    FileHandle m_handle = FileHandle::invalid;
    QString m_path;
};

// A read-only open regular file. Only regular files are opened (links followed),
// so a FIFO, socket or device that carries a record's or transcript's name can never block
// or disturb the reader.
class RegularFile
{
public:
    explicit RegularFile(const QString &path);
    // The file `name` (no "/") in `folder`, or at `folder.path() + "/" + name` when the folder is not open.
    // `listedRegular`: the folder's listing said the name is a regular file itself (not a link), which
    // stands in for the check before opening.
    RegularFile(const Directory &folder, const QString &name, bool listedRegular = false);
    ~RegularFile();
    Q_DISABLE_COPY_MOVE(RegularFile)

    bool isOpen() const { return m_handle != FileHandle::invalid; }
    // For the few platform calls that need the open file; invalid when not open.
    FileHandle handle() const { return m_handle; }
    // Why the file is not open, in the system's words ("Permission denied"); empty when open.
    QString error() const { return m_error; }
    // Not open because nothing carries the name.
    bool isMissing() const { return m_missing; }
    // The size when the file was opened.
    qint64 size() const { return m_status.size; }
    // Device and inode: the same pair means the same file, whatever path reached it.
    qint64 device() const { return m_status.device; }
    qint64 inode() const { return m_status.inode; }
    // The status when the file was opened.
    FileStatus status() const { return m_status; }

    // Reads up to `capacity` bytes; returns the count, 0 at the end, -1 on an error.
    qint64 read(char *buffer, qint64 capacity);
    // Moves the read position to `offset` from the start; false on an error. Costs no system call
    // when the position is there already (a file just opened is at 0).
    bool seek(qint64 offset);

private:
    // Opens `path`, relative to `folder` unless that is invalid.
    void open(FileHandle folder, const QString &path, bool listedRegular = false);

    FileHandle m_handle = FileHandle::invalid;
    qint64 m_position = 0; // -1 after a read error: unknown
    FileStatus m_status;
    QString m_error;
    bool m_missing = false;
};

// The path as the file system takes it; absent when it holds a NUL character, which would
// silently cut the path short and name another file.
std::optional<QByteArray> encodedPath(const QString &path);

// The whole content of a small file, or why it could not be had.
struct ReadResult
{
    QByteArray data;
    QString error;        // the system's words, or ours for a file we refuse; empty on success
    bool missing = false; // nothing carries the name: an absence, not a fault

    bool ok() const { return error.isEmpty(); }
};

// The whole content of a regular file of at most `maxSize` bytes; the reason when the file is
// missing, not regular, larger than `maxSize` or unreadable.
ReadResult readSmallFile(const QString &path, qint64 maxSize);

// The same, for callers that only need to know whether they have the content.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxSize);

// The names in a directory in the order the file system lists them, hidden ones included;
// absent when the directory cannot be listed.
std::optional<QStringList> listDirectory(const QString &path);

// A name of a directory listing; `regular` when the listing itself says the name is a regular
// file (not a link, FIFO, socket or device), which saves a stat before opening it.
struct DirectoryEntry
{
    QString name;
    bool regular = false;
};
// The same listing with each name's type as far as the file system tells it in the listing.
std::optional<QList<DirectoryEntry>> listDirectoryEntries(const QString &path);

// Absent when the path cannot be reached.
std::optional<FileStatus> fileStatus(const QString &path);
// The same for the file `name` (no "/") in `folder`.
std::optional<FileStatus> fileStatus(const Directory &folder, const QString &name);

// Whether a process with this id exists (a signal-0 probe). Ids of 0 or below, or beyond the
// 32-bit range, never count: they would address process groups or wrap around.
bool isProcessRunning(qint64 pid);
