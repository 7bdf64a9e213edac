#include "claudestatsreader.h"

#include "claudedatadir.h"
#include "processes.h"
#include "sessionrecords.h"
#include "statslog.h"

#include <QDir>
#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>

namespace {

constexpr std::chrono::seconds refreshPeriod{60};
constexpr std::chrono::milliseconds changeDelay{250};
// With the cycle that follows, an ended session leaves the list well within 5 s.
constexpr std::chrono::seconds livenessPeriod{2};

} // namespace

// What the cycles carry from one to the next. Only the one running cycle touches the cache; the
// stop flag is the only thing the main thread writes while a cycle runs.
struct ClaudeStatsReader::CycleState
{
    std::atomic<bool> stop{false};
    StatsCache cache;
};

ClaudeStatsReader::ClaudeStatsReader(std::function<QStringList()> extraDataDirectories, QObject *parent)
    : ClaudeStatsReader(QDir::homePath(), qEnvironmentVariable("CLAUDE_CONFIG_DIR"), std::move(extraDataDirectories),
                        parent)
{
}

ClaudeStatsReader::ClaudeStatsReader(const QString &homeDir, const QString &configDirVariable,
                                     std::function<QStringList()> extraDataDirectories, QObject *parent)
    : ClaudeStatsReader(
          [homeDir, configDirVariable, extras = std::move(extraDataDirectories)] {
              return knownDataDirectories(homeDir, configDirVariable, extras ? extras() : QStringList());
          },
          parent, nullptr)
{
}

ClaudeStatsReader::ClaudeStatsReader(const QString &claudeDir, QObject *parent)
    : ClaudeStatsReader([claudeDir] { return QStringList{claudeDir}; }, parent, nullptr)
{
}

ClaudeStatsReader::ClaudeStatsReader(std::function<QStringList()> dataDirectories, QObject *parent, std::nullptr_t)
    : QObject(parent)
    , m_dataDirectories(std::move(dataDirectories))
    , m_cycleState(std::make_shared<CycleState>())
{
    m_changeDelay.setSingleShot(true);
    m_changeDelay.setInterval(changeDelay);
    connect(&m_changeDelay, &QTimer::timeout, this, &ClaudeStatsReader::refresh);
    const auto changed = [this] {
        if (!m_changeDelay.isActive())
            m_changeDelay.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(&m_cycle, &QFutureWatcher<StatsSnapshot>::finished, this, &ClaudeStatsReader::finishCycle);

    refresh();
    // A member timer: it stops with the reader, so no tick can reach a destroyed reader.
    m_timer.setInterval(refreshPeriod);
    connect(&m_timer, &QTimer::timeout, this, &ClaudeStatsReader::refresh);
    m_timer.start();
    connect(&m_liveness, &QFutureWatcher<bool>::finished, this, [this] {
        if (m_liveness.result())
            refresh();
    });
    m_livenessTimer.setInterval(livenessPeriod);
    connect(&m_livenessTimer, &QTimer::timeout, this, &ClaudeStatsReader::checkLiveness);
    m_livenessTimer.start();
}

ClaudeStatsReader::~ClaudeStatsReader()
{
    m_cycleState->stop.store(true, std::memory_order_relaxed);
}

void ClaudeStatsReader::refresh()
{
    // Cycles never overlap: each reads on from where the one before stopped, in one cache. A
    // cycle counts until its result is handed over: one that ended on the pool but whose result
    // still waits in the queue would otherwise be replaced, its result never delivered.
    if (m_cycleRunning) {
        m_cycleWanted = true;
        return;
    }
    m_cycleRunning = true;
    // The work item never touches the reader: it gets the directory list and the shared state by
    // value; m_cycle hands the result back on the main thread and dies with the reader.
    m_cycle.setFuture(QtConcurrent::run(QThreadPool::globalInstance(),
                                        [dataDirectories = m_dataDirectories, state = m_cycleState,
                                         pinned = m_pinnedSession] {
        if (state->stop.load(std::memory_order_relaxed))
            return StatsSnapshot{{}, {}, 0, {}, true};
        // Below the main thread and other programs for the cycle only: the pool thread serves
        // other work afterwards.
        const BackgroundThreadPriority lowPriority;
        return collectStats(dataDirectories(), state->cache, &state->stop, pinned);
    }));
}

void ClaudeStatsReader::finishCycle()
{
    m_cycleRunning = false;
    const StatsSnapshot snapshot = m_cycle.result();
    if (!snapshot.stopped) {
        const bool pinnedRuns = std::any_of(snapshot.activeSessions.cbegin(), snapshot.activeSessions.cend(),
                                            [&](const ActiveSession &s) { return s.sessionId == m_pinnedSession; });
        if (!m_pinnedSession.isEmpty() && !pinnedRuns) {
            m_pinnedSession.clear();
            emit pinnedSessionChanged();
        }
        setActiveSessions(snapshot.activeSessions);
        setSessionStats(snapshot.sessionStats);
        watch(snapshot.watchPaths);
    }
    if (m_cycleWanted) {
        m_cycleWanted = false;
        refresh();
    }
}

// A signal probe and a small /proc read per listed session, on the pool: cheap enough to do every
// few seconds, where a whole cycle is not.
void ClaudeStatsReader::checkLiveness()
{
    if (m_activeSessions.isEmpty() || m_cycleRunning || m_liveness.isRunning())
        return;
    QList<qint64> pids;
    for (const ActiveSession &session : std::as_const(m_activeSessions))
        pids.append(session.pid);
    m_liveness.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [pids] {
        const ProcessProbe probe;
        return std::any_of(pids.cbegin(), pids.cend(), [&](qint64 pid) { return !isRunningProcess(pid, probe); });
    }));
}

void ClaudeStatsReader::setPinnedSession(const QString &sessionId)
{
    if (sessionId == m_pinnedSession)
        return;
    m_pinnedSession = sessionId;
    emit pinnedSessionChanged();
    refresh();
}

// Watches the given paths, or for one that does not exist yet its nearest existing parent, so a
// data directory, sessions folder or project folder created later is noticed at once. A watch
// that cannot be set (the system's limit is reached) leaves the 60-second cycle to notice changes.
void ClaudeStatsReader::watch(const QStringList &paths)
{
    QStringList wanted;
    for (const QString &path : paths) {
        const QString existing = nearestExistingPath(path);
        if (!existing.isEmpty() && !wanted.contains(existing))
            wanted.append(existing);
    }
    QStringList unwanted;
    for (const QString &path : m_watcher.files() + m_watcher.directories()) {
        if (!wanted.contains(path))
            unwanted.append(path);
        else
            wanted.removeAll(path);
    }
    if (!unwanted.isEmpty())
        m_watcher.removePaths(unwanted);
    if (wanted.isEmpty())
        return;
    const QStringList failed = m_watcher.addPaths(wanted);
    if (!failed.isEmpty())
        qCDebug(lcStats) << "cannot watch" << failed;
}

void ClaudeStatsReader::setActiveSessions(const QList<ActiveSession> &sessions)
{
    m_activeSessions = sessions;
    emit activeSessionsChanged();
}

void ClaudeStatsReader::setSessionStats(const SessionStats &stats)
{
    m_sessionStats = stats;
    emit sessionStatsChanged();
}
