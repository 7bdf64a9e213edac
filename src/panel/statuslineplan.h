#pragma once

#include "panelcontent.h"
#include "samplestore.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// How the plan figures of every source enter what the panel reads.

// How long after the shown session wrote a sample from it is expected, and the grace the bridge gets.
inline constexpr qint64 statusLineExpectedSeconds = 120;
inline constexpr qint64 statusLineGraceSeconds = 10;

// When the shown session last wrote its transcript, as far as the panel saw its token figures
// change: the view keeps this value in memory and passes it on as PanelInputs::shownSessionWroteAt.
struct SessionActivity
{
    QString sessionId;
    qint64 totalTokens = 0;
    std::optional<QDateTime> wroteAt; // absent until a change was seen (a switch is no change)

    // This with the reader's new figures seen at `now`.
    SessionActivity after(const SessionStats &stats, const QDateTime &now) const;
};

// A report older than this no longer holds the automatic fetch back.
inline constexpr qint64 freshFigureSeconds = planReportStaleSeconds;

// The plan windows of one data directory's samples.
QList<PlanWindow> planWindowsFromSamples(const DataDirectorySamples &samples);

// `windows` with `incoming` taken in window by window (matched by key), each by replacesFigure()
// of windowrule.h.
QList<PlanWindow> mergePlanWindows(QList<PlanWindow> windows, const QList<PlanWindow> &incoming, const QDateTime &now);

// Whether any window is newer than freshFigureSeconds at `now`.
bool hasFreshWindow(const QList<PlanWindow> &windows, const QDateTime &now);

// The context fill Claude Code's status line last sent for `session`, when it was sent during the
// session's current run (a sample from before a resume may predate a compaction).
std::optional<qint64> sampledContextPercent(const ActiveSession &session, const QList<DataDirectorySamples> &samples);

// `inputs` with the figures that need no login taken in: Claude Code's status line and its
// cached report (`cachedReports`, by samples key of their data directory). The shown session's
// data directory is the one whose samples name that session, else the one the session was read
// from, else `dataDirectory`, the fetcher's. The fetched report counts only for `dataDirectory`
// and while the service is on (serviceEnabled false: Claude Code runs the bridge). All windows are
// merged by the window rule; the shown session takes its sampled context window size (unless
// smaller than its context), model name and cost, and every live session its sampled context fill. The service's failure is not shown beside fresh
// figures of the other sources, and with the service off the plan waits without an error.
PanelInputs withStatusLine(PanelInputs inputs, const QList<DataDirectorySamples> &samples, const QString &dataDirectory,
                           bool serviceEnabled, const QHash<QString, QList<PlanWindow>> &cachedReports = {});
