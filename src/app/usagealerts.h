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
    std::optional<QDateTime> runOutAt; // runOut: when the window reaches 100 % at the recent pace

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
// Nothing is kept on disk.
class UsageAlerts
{
public:
    static constexpr int thresholds[] = {80, 95};
    static constexpr int rearmBelow = 70;

    // `now` decides which resets have passed; an invalid one leaves resets to the figures.
    QList<UsageAlert> observe(const PlanUsage &usage, const QDateTime &now = {});
    // Every live session at once: a session missing from the list has ended and is forgotten.
    QList<UsageAlert> observe(const QList<SessionContext> &sessions);

    // A window that, at the pace of its recent history (`paces`, by window key), runs out at
    // least runOutLeadSeconds before its reset while at runOutFromPercent or more: announced once
    // per window and period, also when that is already so at launch.
    static constexpr qint64 runOutLeadSeconds = 15 * 60;
    static constexpr qint64 runOutFromPercent = 50;
    QList<UsageAlert> observeRunOut(const PlanUsage &usage, const QHash<QString, Pace> &paces, const QDateTime &now);

private:
    struct Window
    {
        bool seen = false;
        std::optional<QDateTime> period; // reset instant of the current period
        int level = 0;                   // highest threshold announced (or in the baseline) since armed
        bool reachedInPeriod = false;    // the period has been at 80 % or more: its reset is news
    };
    static QList<UsageAlert> observeWindow(Window &window, const PlanWindow &figure, const QDateTime &now);

    QHash<QString, Window> m_windows;    // by PlanWindow::key()
    QHash<QString, QDateTime> m_runOutAnnounced; // window key → reset of the period announced
    QHash<QString, int> m_sessionLevels; // session id → highest threshold announced since armed
};

// The notification's summary and body for an alert.
struct AlertText
{
    QString summary;
    QString body;
};
AlertText alertText(const UsageAlert &alert, const QDateTime &now);
