#pragma once

#include "historyrecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <optional>

// How fast a plan window fills at the rate of its recent history, and when it would reach 100 %.
struct Pace
{
    double ratePerHour = 0;             // percentage points per hour; 0 when the figure did not rise
    std::optional<QDateTime> runOutAt;  // when 100 % is reached at this rate; absent when it does not rise
    qint64 basisSeconds = 0;            // the span the rate was taken over
    bool beforeReset = false;           // 100 % comes before the window resets
    std::optional<qint64> minutesBeforeReset; // how long before the reset, when it does
    std::optional<QDateTime> resetsAt;  // the current period's reset, when known

    friend bool operator==(const Pace &, const Pace &) = default;
};

// Whether `later` continues the period of `earlier`, two records of one window in time order: by
// the window rule every source shares where both carry a reset time, otherwise while the figure
// does not fall.
bool isSamePeriod(const HistoryRecord &earlier, const HistoryRecord &later);

// How far back the rate looks: 30 minutes for the 5-hour window, 24 hours for weekly ones.
qint64 paceSpanSeconds(const QString &window);

// The pace of `window` at `now` from `records` (any windows, in any order): over the last span
// of its current period (the records since its reset time last named another window by the window
// rule, windowrule.h, or, without reset times,
// since its figure last fell), from the figure at the start of the span to the latest. Absent
// when the period's history covers less than 10 minutes of that span, or the latest record's
// reset has passed.
std::optional<Pace> windowPace(const QList<HistoryRecord> &records, const QString &window, const QDateTime &now);
// The pace of every window `records` hold that has one, by window key.
QHash<QString, Pace> windowPaces(const QList<HistoryRecord> &records, const QDateTime &now);

// "at the pace of the last 30 min, 100 % at 16:40, 1 h 20 min before the reset"; times in `zone`.
QString paceSentence(const Pace &pace, const QDateTime &now, const QTimeZone &zone = QTimeZone::systemTimeZone());
// "100 % AT 16:40" for the caption line, when 100 % comes before the reset; empty otherwise.
QString paceCaption(const Pace &pace, const QDateTime &now, const QTimeZone &zone = QTimeZone::systemTimeZone());
