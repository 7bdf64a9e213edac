#pragma once

#include <QDateTime>

#include <optional>

// Which of two figures of a quota window stands, whatever source or session sent them: the
// one rule the samples, the panel's sources, the notifications and the history share.

// Reset times this close name one window: the service and Claude Code send the same reset
// with a little jitter, and a new window never starts within an hour of the last one's reset.
inline constexpr qint64 sameWindowSeconds = 3600;
// A figure stamped further than this ahead of the clock was written while the clock was ahead.
inline constexpr qint64 clockAheadSeconds = 60;

// A figure's time as the present allows it: at most `now`, and invalid (older than any present
// time) when it lies more than clockAheadSeconds ahead of `now`.
QDateTime presentTime(const QDateTime &time, const QDateTime &now);

// Both reset times absent, or both present and less than sameWindowSeconds apart.
bool isSameWindow(const std::optional<QDateTime> &a, const std::optional<QDateTime> &b);

// The reset time has come: the window the figure belongs to is over.
bool hasReset(const std::optional<QDateTime> &resetsAt, const QDateTime &now);

// One figure of a window, as far as the rule needs it.
struct WindowFigure
{
    double percent = 0;
    std::optional<QDateTime> resetsAt;
    QDateTime asOf;
};

// Whether `incoming` takes the place of `stored`. Usage within a window never falls, so in the
// same window the higher figure stands; a figure whose reset has passed never replaces one; a
// different window (a new one after a reset, another login) or a window without a reset time
// takes the newer figure. A time too far ahead of the clock counts as the oldest.
bool replacesFigure(const WindowFigure &stored, const WindowFigure &incoming, const QDateTime &now);
