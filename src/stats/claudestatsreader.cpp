#include "claudestatsreader.h"

#include "claudedatadir.h"
#include "statscycle.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

namespace {

constexpr std::chrono::seconds refreshPeriod{60};

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
    LowPriorityScope(const LowPriorityScope &) = delete;
    LowPriorityScope &operator=(const LowPriorityScope &) = delete;

private:
    const QThread::Priority m_previous;
};

} // namespace

ClaudeStatsReader::ClaudeStatsReader(QObject *parent)
    : ClaudeStatsReader(claudeDataDirectory(), parent)
{
}

ClaudeStatsReader::ClaudeStatsReader(const QString &claudeDir, QObject *parent)
    : QObject(parent)
    , m_claudeDir(claudeDir)
{
    refresh();
    // A member timer: it stops with the reader, so no tick can reach a destroyed reader.
    m_timer.setInterval(refreshPeriod);
    connect(&m_timer, &QTimer::timeout, this, &ClaudeStatsReader::refresh);
    m_timer.start();
}

void ClaudeStatsReader::refresh()
{
    // The work item never touches the reader: it gets the directory by value and hands its
    // results to the main thread, where the guard is checked before they are published.
    QPointer<ClaudeStatsReader> guard(this);
    QThreadPool::globalInstance()->start([guard, claudeDir = m_claudeDir] {
        if (guard.isNull())
            return;
        StatsSnapshot snapshot;
        {
            const LowPriorityScope lowPriority;
            snapshot = collectStats(claudeDir);
        }
        QCoreApplication *application = QCoreApplication::instance();
        if (!application)
            return;
        QMetaObject::invokeMethod(
            application,
            [guard, snapshot = std::move(snapshot)] {
                if (guard)
                    guard->publish(snapshot.activeSessions, snapshot.sessionStats);
            },
            Qt::QueuedConnection);
    });
}

void ClaudeStatsReader::publish(const QList<ActiveSession> &sessions, const SessionStats &stats)
{
    setActiveSessions(sessions);
    setSessionStats(stats);
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
