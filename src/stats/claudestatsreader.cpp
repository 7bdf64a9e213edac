#include "claudestatsreader.h"

#include "claudedatadir.h"
#include "logging.h"
#include "statscycle.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>

namespace {

constexpr std::chrono::seconds refreshPeriod{60};
constexpr std::chrono::milliseconds changeDelay{250};

// Runs the cycle below the priority of the main thread, then hands the pool thread back as it
// was, since other work shares it.
class LowPriorityScope
{
public:
    LowPriorityScope()
        : m_previous(QThread::currentThread()->priority())
    {
        QThread::currentThread()->setPriority(QThread::LowPriority);
    }
    ~LowPriorityScope()
    {
        QThread::currentThread()->setPriority(
            m_previous == QThread::InheritPriority ? QThread::NormalPriority : m_previous);
    }
    Q_DISABLE_COPY_MOVE(LowPriorityScope)

private:
    const QThread::Priority m_previous;
};

} // namespace

// What the cycles carry from one to the next. Only the one running cycle touches the cache; the
// stop flag is the only thing the main thread writes while a cycle runs.
struct ClaudeStatsReader::CycleState
{
    std::atomic<bool> stop{false};
    StatsCache cache;
};

ClaudeStatsReader::ClaudeStatsReader(QObject *parent)
    : ClaudeStatsReader(claudeDataDirectory(), parent)
{
}

ClaudeStatsReader::ClaudeStatsReader(const QString &claudeDir, QObject *parent)
    : QObject(parent)
    , m_claudeDir(claudeDir)
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

    refresh();
    // A member timer: it stops with the reader, so no tick can reach a destroyed reader.
    m_timer.setInterval(refreshPeriod);
    connect(&m_timer, &QTimer::timeout, this, &ClaudeStatsReader::refresh);
    m_timer.start();
}

ClaudeStatsReader::~ClaudeStatsReader()
{
    m_cycleState->stop.store(true, std::memory_order_relaxed);
}

void ClaudeStatsReader::refresh()
{
    if (m_cycleRunning) {
        m_cycleWanted = true;
        return;
    }
    m_cycleRunning = true;
    // The work item never touches the reader: it gets the directory and the shared state by
    // value and hands its results to the main thread, where the guard is checked first.
    QPointer<ClaudeStatsReader> guard(this);
    QThreadPool::globalInstance()->start([guard, claudeDir = m_claudeDir, state = m_cycleState, pinned = m_pinnedSession] {
        if (state->stop.load(std::memory_order_relaxed))
            return;
        std::shared_ptr<StatsSnapshot> snapshot;
        {
            const LowPriorityScope lowPriority;
            snapshot = std::make_shared<StatsSnapshot>(collectStats(claudeDir, state->cache, &state->stop, pinned));
        }
        QCoreApplication *application = QCoreApplication::instance();
        if (!application || snapshot->stopped)
            return;
        QMetaObject::invokeMethod(
            application,
            [guard, snapshot] {
                if (guard)
                    guard->finishCycle(*snapshot);
            },
            Qt::QueuedConnection);
    });
}

void ClaudeStatsReader::finishCycle(const StatsSnapshot &snapshot)
{
    m_cycleRunning = false;
    const bool pinnedRuns = std::any_of(snapshot.activeSessions.cbegin(), snapshot.activeSessions.cend(),
                                        [&](const ActiveSession &s) { return s.sessionId == m_pinnedSession; });
    if (!m_pinnedSession.isEmpty() && !pinnedRuns) {
        m_pinnedSession.clear();
        emit pinnedSessionChanged();
    }
    setActiveSessions(snapshot.activeSessions);
    setSessionStats(snapshot.sessionStats);
    watch(snapshot.watchPaths);
    if (m_cycleWanted) {
        m_cycleWanted = false;
        refresh();
    }
}

void ClaudeStatsReader::setPinnedSession(const QString &sessionId)
{
    if (sessionId == m_pinnedSession)
        return;
    m_pinnedSession = sessionId;
    emit pinnedSessionChanged();
    refresh();
}

// Watches exactly the given paths that exist. A watch that cannot be set (the system's limit is
// reached) leaves the 60-second cycle to notice changes.
void ClaudeStatsReader::watch(const QStringList &paths)
{
    QStringList wanted;
    for (const QString &path : paths) {
        if (QFileInfo::exists(path))
            wanted.append(path);
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
