#include "promptcacheview.h"

#include "displaytext.h"

#include <QLocale>
#include <QStringList>

#include <cmath>
#include <utility>

namespace {

constexpr qint64 defaultTtlSeconds = 300;

QString missCause(const QString &cause)
{
    static const std::pair<QLatin1String, const char *> words[] = {
        {QLatin1String("system_prompt_changed"), "system prompt changed"},
        {QLatin1String("tools_changed"), "tools changed"},
        {QLatin1String("model_changed"), "model changed"},
        {QLatin1String("messages_rewritten"), "messages rewritten"},
        {QLatin1String("ttl_expired_5m"), "5-minute cache expired"},
        {QLatin1String("ttl_expired_1h"), "1-hour cache expired"},
        {QLatin1String("likely_server_side"), "likely on the server's side"}};
    for (const auto &[name, text] : words)
        if (cause == name)
            return QString::fromLatin1(text);
    return QStringLiteral("cause unknown");
}

QString ttlName(const std::optional<qint64> &ttlSeconds)
{
    if (!ttlSeconds)
        return {};
    return *ttlSeconds >= 3600 ? QStringLiteral(" (1-hour cache)") : QStringLiteral(" (5-minute cache)");
}

QString timeLeft(qint64 seconds)
{
    return seconds < 60 ? QStringLiteral("%1 s").arg(seconds) : durationText(seconds);
}

// The sentences after the first: what a cold cache costs, the hit ratio and the last miss.
QStringList details(const PromptCacheSample &cache, bool warm, const QDateTime &now)
{
    QStringList sentences;
    if (cache.recacheTokens)
        sentences << (warm ? QStringLiteral("After that the next reply re-reads %1 tokens.")
                           : QStringLiteral("The next reply re-reads %1 tokens."))
                             .arg(QLocale().toString(*cache.recacheTokens));
    if (cache.hitRatio)
        sentences << QStringLiteral("Hits %1 %.").arg(std::lround(*cache.hitRatio * 100));
    if (cache.lastMissAt || !cache.lastMissCauses.isEmpty()) {
        QStringList causes;
        for (const QString &cause : cache.lastMissCauses)
            causes << missCause(cause);
        QString miss = QStringLiteral("Last miss");
        if (cache.lastMissAt)
            miss += u' ' + clockText(*cache.lastMissAt, now);
        if (!causes.isEmpty())
            miss += QStringLiteral(": ") + causes.join(QStringLiteral(", "));
        sentences << miss + u'.';
    }
    return sentences;
}

} // namespace

QDateTime promptCacheExpiry(const PromptCacheSample &cache, const QDateTime &sentAt)
{
    if (cache.expiresAt)
        return *cache.expiresAt;
    return sentAt.isValid() ? sentAt.addSecs(cache.ttlSeconds.value_or(defaultTtlSeconds)) : QDateTime();
}

PromptCacheState promptCacheState(const std::optional<PromptCacheSample> &cache, const QDateTime &sentAt,
                                  const QDateTime &now)
{
    if (!cache)
        return PromptCacheState::unknown;
    const QDateTime expiry = promptCacheExpiry(*cache, sentAt);
    if (!cache->warm || !expiry.isValid() || !now.isValid() || now >= expiry)
        return PromptCacheState::cold;
    return now.msecsTo(expiry) <= 60 * 1000 ? PromptCacheState::lastMinute : PromptCacheState::warm;
}

bool cacheLedLit(const PanelInputs &in)
{
    switch (promptCacheState(in.promptCache, in.promptCacheSentAt, in.now)) {
    case PromptCacheState::warm:
        return true;
    case PromptCacheState::lastMinute:
        // The panel redraws every second: on for one, off for the next.
        return in.now.toSecsSinceEpoch() % 2 == 0;
    case PromptCacheState::cold:
    case PromptCacheState::unknown:
        return false;
    }
    return false;
}

QString promptCacheTooltip(const PanelInputs &in)
{
    const PromptCacheState state = promptCacheState(in.promptCache, in.promptCacheSentAt, in.now);
    if (state == PromptCacheState::unknown)
        return QStringLiteral("Claude Code sends no prompt-cache figures (2.1.251 or later does)");
    const PromptCacheSample &cache = *in.promptCache;
    const QDateTime expiry = promptCacheExpiry(cache, in.promptCacheSentAt);
    QString first;
    if (state == PromptCacheState::cold) {
        // A cache Claude Code already called cold went at its expiry if that was given, else
        // before the payload that said so.
        const QDateTime since = (cache.warm || cache.expiresAt) && expiry <= in.now ? expiry : QDateTime();
        first = since.isValid() ? QStringLiteral("Prompt cache cold since %1.").arg(clockText(since, in.now))
                                : QStringLiteral("Prompt cache cold.");
    } else {
        first = QStringLiteral("Prompt cache warm until ") + clockText(expiry, in.now) + ttlName(cache.ttlSeconds)
            + QStringLiteral(", ") + timeLeft(in.now.secsTo(expiry)) + QStringLiteral(" left.");
    }
    return (QStringList{first} + details(cache, state != PromptCacheState::cold, in.now)).join(u' ');
}
