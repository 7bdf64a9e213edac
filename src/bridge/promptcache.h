#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// The prompt cache's state as Claude Code (2.1.251 and later) reports it in the status-line
// payload's "prompt_cache" object; older versions send none of it.
struct PromptCacheSample
{
    bool warm = false;
    // How long the cache lives after its last use: 300 ("5m") or 3600 ("1h").
    std::optional<qint64> ttlSeconds;
    std::optional<QDateTime> expiresAt; // UTC
    std::optional<double> hitRatio;     // 0..1
    // What the next reply re-reads once the cache has gone cold.
    std::optional<qint64> recacheTokens;
    std::optional<qint64> misses;
    // From 2.1.260: the last miss and what caused it, each cause one of promptCacheMissCauses.
    std::optional<QDateTime> lastMissAt;
    QStringList lastMissCauses;

    friend bool operator==(const PromptCacheSample &, const PromptCacheSample &) = default;
};

// The causes Claude Code names for a miss; any other word is read as "unknown".
inline const QStringList promptCacheMissCauses{
    QStringLiteral("system_prompt_changed"), QStringLiteral("tools_changed"),  QStringLiteral("model_changed"),
    QStringLiteral("messages_rewritten"),    QStringLiteral("ttl_expired_5m"), QStringLiteral("ttl_expired_1h"),
    QStringLiteral("likely_server_side"),    QStringLiteral("unknown")};

// Reads a "prompt_cache" object; absent when it is empty or has no boolean "warm". Other members
// that are missing, null, of another type or out of range are left out.
std::optional<PromptCacheSample> parsePromptCache(const QJsonObject &object);

// The sample as the sample file keeps it, and back (the same shape parsePromptCache reads).
QJsonObject promptCacheToJson(const PromptCacheSample &cache);
