#pragma once

#include "promptcache.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <optional>

// What Claude Code hands its status line command after each reply, as Glimmerox keeps it.

// The largest payload that is parsed; a larger one records nothing.
inline constexpr qsizetype maxStatusLinePayload = 1024 * 1024;

// One session's figures from one payload.
struct SessionSample
{
    QString sessionId;
    // The Claude Code data directory the session belongs to (samples of two never mix).
    QString dataDirectory;
    QString cwd;
    QString modelId;
    QString modelName;
    std::optional<qint64> contextWindowSize;
    std::optional<double> contextUsedPercent; // 0..100, absent before the first reply
    QDateTime receivedAt;                      // UTC, when the bridge got the payload
    std::optional<PromptCacheSample> promptCache;
    std::optional<double> costUsd;             // the session's cost by Claude Code's own reckoning

    friend bool operator==(const SessionSample &, const SessionSample &) = default;
};

// One quota window (5-hour, 7-day or the spend limit) from one payload.
struct PlanWindowSample
{
    double usedPercent = 0; // as Claude Code reports it: 0..100, the spend limit may pass 100
    std::optional<QDateTime> resetsAt;
    QDateTime receivedAt;

    friend bool operator==(const PlanWindowSample &, const PlanWindowSample &) = default;
};

// One whole payload. Either window, or both, may be missing from any one payload.
struct StatusLineSample
{
    SessionSample session;
    std::optional<PlanWindowSample> fiveHour;
    std::optional<PlanWindowSample> sevenDay;
    std::optional<PlanWindowSample> spend; // rate_limits.spend_limit
};

// The data directory a payload belongs to: the folder above projects/ in its transcript path when
// that is absolute and its projects/ folder exists, else the one named by CLAUDE_CONFIG_DIR, else
// ~/.claude.
QString payloadDataDirectory(const QString &transcriptPath, const QString &configDirVariable, const QString &homeDir);

// Reads a payload received at `receivedAt`; absent when it is larger than maxStatusLinePayload
// or not a JSON object. Members that are missing, null or of another type are left out.
std::optional<StatusLineSample> parseStatusLinePayload(const QByteArray &payload, const QDateTime &receivedAt,
                                                       const QString &configDirVariable, const QString &homeDir);

// The bridge's own status line: "my-repo · ctx 34% · 5h 23% (2 h 10 m) · 7d 41%", leaving out
// what the sample lacks.
QString statusLineText(const StatusLineSample &sample, const QDateTime &now);
