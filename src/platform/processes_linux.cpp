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

// Seconds since 1970 at which the system booted ("btime" of /proc/stat).
std::optional<qint64> bootTime()
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
    return ok ? std::optional<qint64>(seconds) : std::nullopt;
}

// Field 22 of /proc/<pid>/stat: the start in clock ticks after boot. The command name (field 2)
// may hold spaces and parentheses, so fields are counted after its last ")".
std::optional<qint64> startTicks(qint64 pid)
{
    const std::optional<QByteArray> stat = readProcFile("/proc/" + QByteArray::number(pid) + "/stat");
    if (!stat)
        return std::nullopt;
    const qsizetype nameEnd = stat->lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat->mid(nameEnd + 2).split(' ');
    constexpr qsizetype startField = 22 - 3; // fields after the name start at field 3
    if (fields.size() <= startField)
        return std::nullopt;
    bool ok = false;
    const qint64 ticks = fields.at(startField).toLongLong(&ok);
    return ok ? std::optional<qint64>(ticks) : std::nullopt;
}

} // namespace

std::optional<qint64> processStartTime(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max())
        return std::nullopt;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    // Fixed while the system runs: read once, not once per session record.
    static const std::optional<qint64> boot = bootTime();
    const std::optional<qint64> ticks = startTicks(pid);
    if (!ticks || !boot || ticksPerSecond <= 0)
        return std::nullopt;
    return *boot * 1000 + *ticks * 1000 / ticksPerSecond;
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
