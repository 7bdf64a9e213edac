#pragma once

#include "sessionstats.h"

#include "statscycle.h"

#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

// Publishes the running sessions of every known Claude Code data directory and the token figures
// of the most recently active one (or of the pinned one while it runs), read at construction,
// within a second of a change to a sessions folder or the shown session's files, and every 60
// seconds in any case. Every few seconds the processes of the listed sessions are looked at, and
// a cycle follows at once when one has ended, so a Claude Code that ended without removing its
// record leaves the list within seconds. Both
// properties are assigned on the main thread, activeSessions first, on every cycle, and each
// assignment emits its change signal whether or not the value changed.
class ClaudeStatsReader : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SessionStats sessionStats READ sessionStats NOTIFY sessionStatsChanged)
    Q_PROPERTY(QList<ActiveSession> activeSessions READ activeSessions NOTIFY activeSessionsChanged)

public:
    // Reads every data directory of the current user that knownDataDirectories() gives: ~/.claude,
    // CLAUDE_CONFIG_DIR when set, and those `extraDataDirectories` names (for example the ones
    // recent status-line samples name). The function is called on the pool thread once per
    // cycle, so it must be safe to call from there; an empty one names none.
    explicit ClaudeStatsReader(std::function<QStringList()> extraDataDirectories, QObject *parent = nullptr);
    // The same with the home directory and the CLAUDE_CONFIG_DIR value given.
    ClaudeStatsReader(const QString &homeDir, const QString &configDirVariable,
                      std::function<QStringList()> extraDataDirectories, QObject *parent = nullptr);
    // Reads the given data directory alone (the folder that plays the role of ~/.claude).
    explicit ClaudeStatsReader(const QString &claudeDir, QObject *parent = nullptr);
    // Asks a running cycle to stop at its next chunk or file; never waits for it.
    ~ClaudeStatsReader() override;

    SessionStats sessionStats() const { return m_sessionStats; }
    QList<ActiveSession> activeSessions() const { return m_activeSessions; }

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

    ClaudeStatsReader(std::function<QStringList()> dataDirectories, QObject *parent, std::nullptr_t);
    void finishCycle();
    void checkLiveness();
    void watch(const QStringList &paths);
    void setActiveSessions(const QList<ActiveSession> &sessions);
    void setSessionStats(const SessionStats &stats);

    SessionStats m_sessionStats;
    QList<ActiveSession> m_activeSessions;
    const std::function<QStringList()> m_dataDirectories;
    QString m_pinnedSession;
    std::shared_ptr<CycleState> m_cycleState; // shared with the cycle on the pool
    // Hands the cycle's result to the main thread; destroyed with the reader, so a cycle that
    // ends later reaches nothing.
    QFutureWatcher<StatsSnapshot> m_cycle;
    bool m_cycleRunning = false; // from the start of a cycle until its result is handed over
    bool m_cycleWanted = false;
    QTimer m_timer;
    QTimer m_livenessTimer;
    // Hands back whether a listed session's process has ended; dies with the reader.
    QFutureWatcher<bool> m_liveness;
    QTimer m_changeDelay; // gathers a burst of file changes into one cycle
    QFileSystemWatcher m_watcher;
};
