#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// Small files of our own that other processes read and write at the same time: the status-line
// samples in the runtime folder, the user settings file the bridge is installed into, and the
// autostart entry.

// Writes `bytes` to `path` through a new temporary file beside it and a rename, so a reader sees
// the whole old or the whole new content, never a part. A symbolic link at `path` is followed and
// its target replaced. The file gets the permission bits `mode`; `durable` waits until the data
// is on disk before the rename (the runtime folder lives in memory and does not need it).
// Returns an empty string on success, else the reason.
QString writeFileAtomically(const QString &path, const QByteArray &bytes, int mode, bool durable);

// The same with more say over how.
struct AtomicWrite
{
    int mode = 0600;
    // The data is on disk before the rename, and the folder's new entry after it.
    bool durable = true;
    // A symbolic link at the path is followed (its target replaced), or else replaced itself.
    bool followLink = true;
    // Asked just before the rename; false leaves the file as it is, and `abandoned` is set.
    std::function<bool()> beforeRename;
};
QString writeFileAtomically(const QString &path, const QByteArray &bytes, const AtomicWrite &how,
                            bool *abandoned = nullptr);

// The whole content of a regular file of at most `maxSize` bytes at `path`, never read through a
// symbolic link (a link planted there is refused); absent when it cannot be had.
std::optional<QByteArray> readOwnFile(const QString &path, qint64 maxSize);

// The permission bits of the file at `path` (links followed), or -1 when it cannot be reached.
int filePermissions(const QString &path);

// Makes `path` a folder only its owner can enter (0700), creating it and its parents when
// missing, and must then pass privateFolderProblem (privatefolder.h): a path that is not a
// directory, or belongs to another user, is refused.
// Returns an empty string on success, else the reason.
QString ensurePrivateFolder(const QString &path);

// An exclusive advisory lock on the file at `path` (created 0600 when missing, never opened
// through a symbolic link), held from construction until destruction. Waits while another
// process holds it, or, given a `patience`, tries again without blocking until that has passed
// (a patience of 0 tries once). Released by the system when the holder dies; two locks of one
// file exclude each other also within one process.
class FileLock
{
public:
    explicit FileLock(const QString &path, std::optional<std::chrono::milliseconds> patience = std::nullopt);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool isLocked() const { return m_fd >= 0; }
    // Not locked because another holder has the lock (not because the file could not be had).
    bool isHeldElsewhere() const { return m_heldElsewhere; }

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
};
