#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Token figures of the session on show.
struct SessionStats
{
    qint64 totalTokens = 0;
    qint64 lastContextTokens = 0;
    qint64 lastOutputTokens = 0;
    qint64 contextWindowSize = 200000;

    // Context fill in whole per cent, truncated, capped at 100; 0 for a window of 0 or less.
    qint64 contextPercent() const;

    friend bool operator==(const SessionStats &, const SessionStats &) = default;
};

// One running Claude Code session, as its session record describes it.
struct ActiveSession
{
    qint64 pid = 0;
    QString sessionId;
    QString cwd;
    QDateTime startedAt; // UTC, millisecond precision

    friend bool operator==(const ActiveSession &, const ActiveSession &) = default;
};
