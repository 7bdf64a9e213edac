#pragma once

#include "panelcontent.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The CACHE LED and its tooltip: the shown session's prompt cache, counted down on the panel's
// own clock between the status line's payloads.

enum class PromptCacheState {
    unknown,    // Claude Code sent no prompt-cache figures for the session
    cold,       // the cache has expired: the next reply re-reads the prompt
    warm,       // the cache lives on
    lastMinute, // warm, but for less than a minute more
};

// When the cache goes cold: the time Claude Code gave, else one time-to-live after the payload
// (each reply renews the cache), else five minutes after it (Claude Code's default time-to-live).
QDateTime promptCacheExpiry(const PromptCacheSample &cache, const QDateTime &sentAt);

PromptCacheState promptCacheState(const std::optional<PromptCacheSample> &cache, const QDateTime &sentAt,
                                  const QDateTime &now);

// Lit while warm; in the last minute it blinks, following the clock's seconds.
bool cacheLedLit(const PanelInputs &inputs);

// "Prompt cache warm until 14:32 (1-hour cache), 4 min left. After that the next reply
// re-reads 217,000 tokens. Hits 96 %. Last miss 13:05: tools changed.", and the like.
QString promptCacheTooltip(const PanelInputs &inputs);
