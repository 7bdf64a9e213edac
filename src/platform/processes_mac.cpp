#include "processes.h"

#include <limits>
#include <sys/proc.h>
#include <sys/resource.h>
#include <sys/sysctl.h>
#include <sys/types.h>

// The kernel keeps each process's start as wall-clock time: nothing to read beforehand.
ProcessProbe::ProcessProbe() = default;

std::optional<ProcessStatus> ProcessProbe::status(qint64 pid) const
{
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max())
        return std::nullopt;
    int name[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, int(pid)};
    struct kinfo_proc info = {};
    size_t size = sizeof info;
    // A pid that names no process succeeds with size 0.
    if (::sysctl(name, 4, &info, &size, nullptr, 0) != 0 || size < sizeof info)
        return std::nullopt;
    const struct timeval &start = info.kp_proc.p_starttime;
    ProcessStatus status;
    status.zombie = info.kp_proc.p_stat == SZOMB;
    status.startedMs = qint64(start.tv_sec) * 1000 + qint64(start.tv_usec) / 1000;
    return status;
}

// PRIO_DARWIN_THREAD with PRIO_DARWIN_BG puts only the calling thread into the background band
// (lower CPU and I/O priority); 0 takes it out again.
BackgroundThreadPriority::BackgroundThreadPriority()
{
    m_lowered = ::setpriority(PRIO_DARWIN_THREAD, 0, PRIO_DARWIN_BG) == 0;
}

BackgroundThreadPriority::~BackgroundThreadPriority()
{
    if (m_lowered)
        ::setpriority(PRIO_DARWIN_THREAD, 0, 0);
}
