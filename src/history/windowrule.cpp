#include "windowrule.h"

#include <algorithm>
#include <cmath>

QDateTime presentTime(const QDateTime &time, const QDateTime &now)
{
    if (!time.isValid() || !now.isValid())
        return time;
    if (now.secsTo(time) > clockAheadSeconds)
        return {};
    return std::min(time, now);
}

bool isSameWindow(const std::optional<QDateTime> &a, const std::optional<QDateTime> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || std::abs(a->secsTo(*b)) < sameWindowSeconds;
}

bool hasReset(const std::optional<QDateTime> &resetsAt, const QDateTime &now)
{
    return resetsAt && resetsAt->isValid() && now.isValid() && *resetsAt <= now;
}

bool replacesFigure(const WindowFigure &stored, const WindowFigure &incoming, const QDateTime &now)
{
    // An idle session still carrying the window that has ended.
    if (hasReset(incoming.resetsAt, now))
        return false;
    const QDateTime storedAt = presentTime(stored.asOf, now);
    const QDateTime incomingAt = presentTime(incoming.asOf, now);
    if (!incomingAt.isValid())
        return false;
    const bool newer = !storedAt.isValid() || incomingAt >= storedAt;
    if (!storedAt.isValid() || hasReset(stored.resetsAt, now))
        return true;
    if (stored.resetsAt && isSameWindow(stored.resetsAt, incoming.resetsAt))
        return incoming.percent > stored.percent || (incoming.percent == stored.percent && newer);
    return newer;
}
