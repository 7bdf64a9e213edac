#pragma once

#include "historyrecord.h"
#include "sessionstats.h"
#include "transcriptaccounting.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <optional>

// What the history chart shows: the plan windows over the last 7 days and the shown session's
// context over its life, as polylines ready to draw.

// How far back the chart reaches.
inline constexpr qint64 historyChartDays = 7;

struct HistoryPoint
{
    QDateTime at;
    double percent = 0;

    friend bool operator==(const HistoryPoint &, const HistoryPoint &) = default;
};

// One pen of the recorder: a polyline whose value holds between records, so reading it at any
// instant gives the figure then.
struct HistoryTrace
{
    QString window;              // "five_hour", "seven_day", "seven_day:Opus", or empty for context
    QString label;               // "5-hour", "7-day", "7-day Opus", "context"
    QList<HistoryPoint> points;  // in time order
    QList<QDateTime> resets;     // where the window started afresh

    // The figure at `at`; absent outside the trace.
    std::optional<double> valueAt(const QDateTime &at) const;

    friend bool operator==(const HistoryTrace &, const HistoryTrace &) = default;
};

struct HistorySeries
{
    QDateTime now;
    QDateTime from; // now - 7 days
    QTimeZone zone = QTimeZone::systemTimeZone(); // the clock the chart is labelled in
    QString dataDirectory;      // as shown: "~/.claude"
    QList<HistoryTrace> quotas; // the 5-hour window first, then the weekly ones
    QString project;            // the shown session's
    HistoryTrace context;       // the shown session's context fill over its life
    QDateTime contextFrom;
    QDateTime contextTo;

    friend bool operator==(const HistorySeries &, const HistorySeries &) = default;
};

// "5-hour", "7-day", "7-day Opus".
QString historyWindowLabel(const QString &window);

// The chart for `now`: the quota windows in `records` (five_hour and the weekly ones), and the
// context fill of `context` in a window of `contextWindowSize` tokens.
HistorySeries historySeries(const QList<HistoryRecord> &records, const QList<ContextPoint> &context,
                            qint64 contextWindowSize, const QDateTime &now);

// "Tue 14:20"
QString historyTimeText(const QDateTime &at, const QTimeZone &zone);
// "Tue 14:20 · 5-hour 62 % · 7-day 41 %": every trace that has a figure at `at`.
QString historyReadout(const QList<HistoryTrace> &traces, const QDateTime &at, const QTimeZone &zone);

// The context points of the transcript read last, kept while its file stays as it was: a long
// session's transcript runs to tens of megabytes, and the chart is loaded again each minute.
struct ContextTimelineCache
{
    QString path;
    std::optional<FileStatus> status;
    QList<ContextPoint> points;
};

// The chart as kept on disk at `now`: the history of the shown session's data directory (or of
// `fallbackDataDirectory` when no session is shown) in `stateFolder`, and that session's
// transcript (through `cache` when given). Reads files: meant for a worker thread.
HistorySeries loadHistorySeries(const QString &stateFolder, const SessionStats &shown,
                                const QString &fallbackDataDirectory, const QDateTime &now,
                                ContextTimelineCache *cache = nullptr);
