#pragma once

// One refresh cycle's work, from the data directory to the figures published: used by
// ClaudeStatsReader on its pool thread and by glimmerox-bench.

#include "fileaccess.h"
#include "sessionstats.h"

#include <QList>
#include <QString>

#include <compare>
#include <functional>
#include <optional>

// The project folder name of a working directory: "/a/b.c" becomes "-a-b.c".
QString encodeCwd(const QString &cwd);

// <claudeDir>/projects/<encodeCwd(cwd)>/<sessionId>.jsonl
QString transcriptPath(const QString &claudeDir, const ActiveSession &session);

// Content modification time of the session's main transcript (links followed), to the
// nanosecond; absent when it cannot be read.
std::optional<FileTime> jsonlModificationDate(const QString &claudeDir, const ActiveSession &session);

// Token figures of a session: the main transcript gives the total and the last context-bearing
// call, the subagent transcripts beside it add to the total only. Adds the bytes read to
// *bytesRead when given.
SessionStats readSessionTokens(const QString &claudeDir, const ActiveSession &session,
                               qint64 *bytesRead = nullptr);

struct StatsSnapshot
{
    QList<ActiveSession> activeSessions;
    SessionStats sessionStats;
    qint64 bytesRead = 0; // transcript bytes read in the cycle
};

// The figures of the session whose main transcript changed last: the newest time wins, the first
// listed wins a tie, and a session without a readable time is taken only while no dated one has
// been seen. `readTokens` runs for every session that becomes the choice during the pass.
SessionStats chooseSessionStats(
    const QList<ActiveSession> &sessions,
    const std::function<std::optional<FileTime>(const ActiveSession &)> &modificationTime,
    const std::function<SessionStats(const ActiveSession &)> &readTokens);

// Lists the running sessions of <claudeDir> and totals the one chosen as above.
StatsSnapshot collectStats(const QString &claudeDir);
