#pragma once

#include "sessionstats.h"

#include <QList>
#include <QObject>
#include <QTimer>

// Publishes the running sessions and the token figures of the most recently active one,
// re-read from Claude Code's data directory once at construction and then every 60 seconds.
// Both properties are assigned on the main thread, activeSessions first, on every cycle,
// and each assignment emits its change signal whether or not the value changed.
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

    SessionStats sessionStats() const { return m_sessionStats; }
    QList<ActiveSession> activeSessions() const { return m_activeSessions; }
    QString claudeDir() const { return m_claudeDir; }

    // Starts one refresh cycle on the background pool; returns at once. Called by the
    // constructor and by the repeating timer; overlapping cycles each publish their own results.
    void refresh();

    // The repeating 60-second timer that calls refresh(); it dies with the reader.
    const QTimer &refreshTimer() const { return m_timer; }

signals:
    void sessionStatsChanged();
    void activeSessionsChanged();

private:
    void publish(const QList<ActiveSession> &sessions, const SessionStats &stats);
    void setActiveSessions(const QList<ActiveSession> &sessions);
    void setSessionStats(const SessionStats &stats);

    SessionStats m_sessionStats;
    QList<ActiveSession> m_activeSessions;
    const QString m_claudeDir;
    QTimer m_timer;
};
