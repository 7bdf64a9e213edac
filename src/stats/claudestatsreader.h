#pragma once

#include "sessionstats.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

struct StatsSnapshot;

// Publishes the running sessions and the token figures of the most recently active one (or of
// the pinned one while it runs), read from Claude Code's data directory at construction, within
// a second of a change to the sessions folder or the shown session's files, and every 60 seconds
// in any case. Both
// properties are assigned on the main thread, activeSessions first, on every cycle, and each
// assignment emits its change signal whether or not the value changed.
class ClaudeStatsReader : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SessionStats sessionStats READ sessionStats NOTIFY sessionStatsChanged)
    Q_PROPERTY(QList<ActiveSession> activeSessions READ activeSessions NOTIFY activeSessionsChanged)

public:
    // Reads Claude Code's data directory of the current user (CLAUDE_CONFIG_DIR or ~/.claude).
    explicit ClaudeStatsReader(QObject *parent = nullptr);
    // Reads the given data directory (the folder that plays the role of ~/.claude).
    explicit ClaudeStatsReader(const QString &claudeDir, QObject *parent = nullptr);
    // Asks a running cycle to stop at its next chunk or file; never waits for it.
    ~ClaudeStatsReader() override;

    SessionStats sessionStats() const { return m_sessionStats; }
    QList<ActiveSession> activeSessions() const { return m_activeSessions; }
    QString claudeDir() const { return m_claudeDir; }

    // Shows the given live session instead of the most recently active one, from the next cycle
    // on (one starts now); an empty id goes back to following the latest. The pin ends by itself
    // when a cycle no longer finds that session running.
    void setPinnedSession(const QString &sessionId);
    QString pinnedSession() const { return m_pinnedSession; }

    // Starts a refresh cycle on the background pool and returns at once. While one runs, the
    // request is remembered and one more cycle follows it: cycles never overlap, since each
    // reads on from where the one before stopped.
    void refresh();

    // The repeating 60-second timer that calls refresh(); it dies with the reader.
    const QTimer &refreshTimer() const { return m_timer; }

signals:
    void sessionStatsChanged();
    void activeSessionsChanged();
    void pinnedSessionChanged();

private:
    struct CycleState;

    void finishCycle(const StatsSnapshot &snapshot);
    void watch(const QStringList &paths);
    void setActiveSessions(const QList<ActiveSession> &sessions);
    void setSessionStats(const SessionStats &stats);

    SessionStats m_sessionStats;
    QList<ActiveSession> m_activeSessions;
    QString m_pinnedSession;
    const QString m_claudeDir;
    std::shared_ptr<CycleState> m_cycleState; // shared with the cycle on the pool
    bool m_cycleRunning = false;
    bool m_cycleWanted = false;
    QTimer m_timer;
    QTimer m_changeDelay; // gathers a burst of file changes into one cycle
    QFileSystemWatcher m_watcher;
};
