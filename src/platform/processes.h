#pragma once

#include <QtGlobal>

#include <optional>

// What the system tells about running processes and the calling thread: processes_linux.cpp and
// processes_mac.cpp; another system adds a file of its own.

// What the system tells about one process.
struct ProcessStatus
{
    bool zombie = false; // it has ended and only waits for its parent to collect it
    // When it started, in milliseconds since 1970 (to the clock tick on Linux); absent when the
    // system does not say.
    std::optional<qint64> startedMs;
};

// Reads the status of processes. Linux counts a process's start from the boot, whose time in
// wall-clock terms moves when the clock is stepped; a probe reads it once when made, so one made
// per cycle follows such a step.
class ProcessProbe
{
public:
    ProcessProbe();

    // Absent when no such process exists or the system does not say.
    std::optional<ProcessStatus> status(qint64 pid) const;

private:
    [[maybe_unused]] std::optional<qint64> m_bootTimeMs; // Linux only
};

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
