#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

// Small logs that several processes add to at once (the plan history): one write per record,
// made under a lock that is only tried, so a writer that cannot have it at once gives up instead
// of holding up whoever runs it.

// An exclusive advisory lock on the file at `path` (created 0600 when missing), tried without
// waiting and retried for at most `budget` in all; held from construction until destruction.
class TryFileLock
{
public:
    TryFileLock(const QString &path, std::chrono::milliseconds budget);
    ~TryFileLock();
    TryFileLock(const TryFileLock &) = delete;
    TryFileLock &operator=(const TryFileLock &) = delete;

    bool isLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Appends `bytes` to the file at `path` (created with `mode` when missing) in one write with
// O_APPEND, unless the file already holds `maxSize` bytes or more. Returns an empty string on
// success, else the reason.
QString appendToFile(const QString &path, const QByteArray &bytes, int mode, qint64 maxSize);
