#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <optional>

// Token figures of the session on show.
struct SessionStats
{
    qint64 totalTokens = 0;
    qint64 lastContextTokens = 0;
    qint64 lastOutputTokens = 0;
    qint64 contextWindowSize = 200000;

    // Which session the figures belong to, and the model of its last main-conversation call.
    QString sessionId;
    QString cwd;
    QString model;
    // The data directory the session's record lies in, and how many data directories the cycle
    // read (set with a shown session only): above 1, the panel names the directory.
    QString claudeDir;
    qsizetype dataDirectoryCount = 0;

    // The last call's context plus its output, held at the 64-bit limits: what the panel shows.
    qint64 contextAndOutput() const;
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
    // Context fill of the session's last main-conversation call, when the cycle read it.
    std::optional<qint64> contextPercent;
    // The data directory whose sessions folder holds the record.
    QString claudeDir;

    friend bool operator==(const ActiveSession &, const ActiveSession &) = default;
};

// a + b, held at the 64-bit limits instead of overflowing: every token sum of the statistics.
qint64 saturatingAdd(qint64 a, qint64 b);

// The project a working directory names: its last path component ("/home/ana/app" gives "app").
QString projectName(const QString &cwd);
