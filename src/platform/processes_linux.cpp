#include "processes.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::optional<QByteArray> readProcFile(const QByteArray &path)
{
    QFile file(QString::fromLatin1(path));
    // /proc files report size 0, so they are read to the end rather than by size.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    return file.readAll();
}

// Milliseconds since 1970 at which the system booted ("btime" of /proc/stat, to the second).
std::optional<qint64> bootTimeMs()
{
    const std::optional<QByteArray> stat = readProcFile("/proc/stat");
    if (!stat)
        return std::nullopt;
    const qsizetype at = stat->indexOf("\nbtime ");
    if (at < 0)
        return std::nullopt;
    const qsizetype end = stat->indexOf('\n', at + 1);
    bool ok = false;
    const qint64 seconds = stat->mid(at + 7, end < 0 ? -1 : end - at - 7).trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(seconds * 1000) : std::nullopt;
}

} // namespace

ProcessProbe::ProcessProbe()
    : m_bootTimeMs(bootTimeMs())
{
}

// /proc/<pid>/stat: the state is field 3, the start in clock ticks after boot field 22. The
// command name (field 2) may hold spaces and parentheses, so fields are counted after its last ")".
std::optional<ProcessStatus> ProcessProbe::status(qint64 pid) const
{
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max())
        return std::nullopt;
    const std::optional<QByteArray> stat = readProcFile("/proc/" + QByteArray::number(pid) + "/stat");
    if (!stat)
        return std::nullopt;
    const qsizetype nameEnd = stat->lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat->mid(nameEnd + 2).split(' ');
    if (fields.isEmpty() || fields.first().isEmpty())
        return std::nullopt;
    ProcessStatus status;
    // Z: a zombie; X (x in old kernels): being removed.
    const char state = fields.first().at(0);
    status.zombie = state == 'Z' || state == 'X' || state == 'x';
    constexpr qsizetype startField = 22 - 3; // fields after the name start at field 3
    bool ok = false;
    const qint64 ticks = fields.size() > startField ? fields.at(startField).toLongLong(&ok) : 0;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (ok && m_bootTimeMs && ticksPerSecond > 0)
        status.startedMs = *m_bootTimeMs + ticks * 1000 / ticksPerSecond;
    return status;
}

// On Linux a nice value belongs to the thread named by its id, so this leaves the rest of the
// process alone.
BackgroundThreadPriority::BackgroundThreadPriority()
{
    const id_t thread = id_t(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (errno != 0)
        return;
    m_previous = current;
    m_lowered = ::setpriority(PRIO_PROCESS, thread, std::min(current + 10, 19)) == 0;
}

BackgroundThreadPriority::~BackgroundThreadPriority()
{
    // Taking the nice value back down needs CAP_SYS_NICE or a large enough RLIMIT_NICE. Without
    // them the thread stays low, which only slows later work on the global pool: in Glimmerox,
    // nothing but the next cycles.
    if (m_lowered)
        ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), m_previous);
}
