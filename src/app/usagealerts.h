#pragma once

#include "pace.h"
#include "planusage.h"
#include "sessionstats.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// One moment worth a desktop notification.
struct UsageAlert
{
    enum class Subject { quota, context, runOut };
    Subject subject = Subject::context;
    // 80 or 95 for a threshold reached; 0 when a window the user had reached 80 % in has reset.
    int threshold = 0;
    qint64 percent = 0;
    std::optional<QDateTime> resetsAt; // the window's next reset, for the words
    QString project;                  // context: the session's project folder
    QString sessionId;                // context: the session the figure is of
    QString windowKey;                // quota: PlanWindow::key() of the window
    QString windowName;               // quota: PlanWindow::name() ("Opus weekly")
    PlanWindowKind windowKind = PlanWindowKind::fiveHour;
    std::optional<QDateTime> runOutAt; // runOut: when 100 % comes at the recent pace

    friend bool operator==(const UsageAlert &, const UsageAlert &) = default;
};

// One live session's context fill, as the notifications watch it.
struct SessionContext
{
    QString sessionId;
    QString project;
    qint64 percent = 0;
};

// Decides when the figures deserve a notification: every plan window's figure (5-hour, each
// weekly window, credits, spend) and each live session's context fill, each on reaching 80 % and
// 95 %, and a window resetting after it had reached 80 %; a new period is a figure of another
// window by isSameWindow() (windowrule.h), or a reset time that has passed. A threshold is
// announced once until its figure falls below 70 % (a compaction, a new window period) and so
// re-arms it; the gap keeps a figure wavering around a threshold quiet. The first figures of
// each window and session only set the baseline, so a restart never repeats a notification.
// Once the recent paces are known, a window that runs out at least 15 minutes before its reset
// at that pace, with its figure at 50 % or more, is announced once a period; the first paces are
// a baseline too. Nothing is kept on disk.
class UsageAlerts
{
public:
    static constexpr int thresholds[] = {80, 95};
    static constexpr int rearmBelow = 70;
    static constexpr qint64 runOutMinutesBeforeReset = 15;
    static constexpr qint64 runOutFromPercent = 50;

    // `now` decides which resets have passed; an invalid one leaves resets to the figures.
    // `paces` are the windows' recent paces by PlanWindow::key(), absent until they were read.
    QList<UsageAlert> observe(const PlanUsage &usage, const QDateTime &now = {},
                              const std::optional<QHash<QString, Pace>> &paces = std::nullopt);
    // Every live session at once: a session missing from the list has ended and is forgotten.
    QList<UsageAlert> observe(const QList<SessionContext> &sessions);

private:
    struct Window
    {
        bool seen = false;
        std::optional<QDateTime> period; // reset instant of the current period
        int level = 0;                   // highest threshold announced (or in the baseline) since armed
        bool reachedInPeriod = false;    // the period has been at 80 % or more: its reset is news
        bool runOutAnnounced = false;    // the period's early run-out was announced (or in the baseline)
    };
    static QList<UsageAlert> observeWindow(Window &window, const PlanWindow &figure, const QDateTime &now,
                                           const Pace *pace, bool paceBaseline);

    QHash<QString, Window> m_windows;    // by PlanWindow::key()
    QHash<QString, int> m_sessionLevels; // session id → highest threshold announced since armed
    bool m_pacesSeen = false;
};

// The notification's summary and body for an alert.
struct AlertText
{
    QString summary;
    QString body;
};
AlertText alertText(const UsageAlert &alert, const QDateTime &now);
