#pragma once

#include <QtGlobal>

#include <optional>

// What the system tells about running processes and the calling thread: processes_linux.cpp and
// processes_mac.cpp; another system adds a file of its own.

// When the process started, in milliseconds since 1970 (to the second on Linux); absent when it
// is not running or the system does not say.
std::optional<qint64> processStartTime(qint64 pid);

// Lowers the calling thread's scheduling priority below the rest of the process for as long as
// it lives, then restores it. Pool threads run other work too, so the change must not outlive
// the scope. Does nothing where the system refuses.
class BackgroundThreadPriority
{
public:
    BackgroundThreadPriority();
    ~BackgroundThreadPriority();
    Q_DISABLE_COPY_MOVE(BackgroundThreadPriority)

    // Whether the priority was lowered.
    bool isLowered() const { return m_lowered; }

private:
    bool m_lowered = false;
    int m_previous = 0;
};
