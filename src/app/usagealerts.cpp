#include "usagealerts.h"

#include "displaytext.h"
#include "windowrule.h"

#include <QLocale>
#include <QObject>

#include <algorithm>

namespace {

// The highest threshold a figure has reached, 0 below the first.
int levelOf(qint64 percent)
{
    int level = 0;
    for (int threshold : UsageAlerts::thresholds)
        if (percent >= threshold)
            level = threshold;
    return level;
}

// The level a figure leaves in place: below the re-arm mark everything may be announced again.
int keptLevel(int level, qint64 percent)
{
    return percent < UsageAlerts::rearmBelow ? 0 : level;
}

} // namespace

QList<UsageAlert> UsageAlerts::observeWindow(Window &window, const PlanWindow &figure, const QDateTime &now,
                                             const Pace *pace, bool paceBaseline)
{
    // From its reset time on, a window is a new idle one at 0 %.
    const bool reset = figure.hasReset(now);
    const qint64 percent = reset ? 0 : figure.percent();
    const std::optional<QDateTime> resetsAt = reset ? std::nullopt : figure.resetsAt;
    const int level = levelOf(percent);
    const auto alert = [&](int threshold) {
        return UsageAlert{UsageAlert::Subject::quota, threshold, percent, resetsAt, {}, {}, figure.key(),
                          figure.name(), figure.kind, {}};
    };
    // The pace must be of this period: the history may still end in the one before.
    const bool runsOut = pace && resetsAt && isSameWindow(pace->resetsAt, resetsAt) && pace->beforeReset
        && pace->runOutAt && pace->minutesBeforeReset && *pace->minutesBeforeReset >= runOutMinutesBeforeReset
        && percent >= runOutFromPercent;
    if (!window.seen) {
        window = {true, resetsAt, level, level > 0, runsOut};
        return {};
    }
    QList<UsageAlert> alerts;
    if (!isSameWindow(window.period, resetsAt)) {
        if (window.reachedInPeriod)
            alerts.append(alert(0));
        window = {true, resetsAt, 0, false, false};
    }
    window.level = keptLevel(window.level, percent);
    window.reachedInPeriod = window.reachedInPeriod || level > 0;
    if (level > window.level) {
        window.level = level;
        alerts.append(alert(level));
    }
    if (runsOut && !window.runOutAnnounced && !paceBaseline) {
        UsageAlert early = alert(0);
        early.subject = UsageAlert::Subject::runOut;
        early.runOutAt = pace->runOutAt;
        alerts.append(early);
    }
    window.runOutAnnounced = window.runOutAnnounced || runsOut;
    return alerts;
}

QList<UsageAlert> UsageAlerts::observe(const PlanUsage &usage, const QDateTime &now,
                                       const std::optional<QHash<QString, Pace>> &paces)
{
    // The paces read right after launch only set the baseline, like the first figures.
    const bool paceBaseline = paces && !std::exchange(m_pacesSeen, true);
    QList<UsageAlert> alerts;
    for (const PlanWindow &window : usage.shownWindows()) {
        const auto pace = paces ? paces->constFind(window.key()) : QHash<QString, Pace>::const_iterator();
        alerts += observeWindow(m_windows[window.key()], window, now,
                                paces && pace != paces->cend() ? &*pace : nullptr, paceBaseline);
    }
    return alerts;
}

QList<UsageAlert> UsageAlerts::observe(const QList<SessionContext> &sessions)
{
    QList<UsageAlert> alerts;
    QHash<QString, int> levels;
    for (const SessionContext &session : sessions) {
        if (session.sessionId.isEmpty() || levels.contains(session.sessionId))
            continue;
        const int level = levelOf(session.percent);
        const auto known = m_sessionLevels.constFind(session.sessionId);
        if (known == m_sessionLevels.cend()) {
            levels.insert(session.sessionId, level);
            continue;
        }
        const int kept = keptLevel(*known, session.percent);
        levels.insert(session.sessionId, std::max(kept, level));
        if (level > kept)
            alerts.append({UsageAlert::Subject::context, level, session.percent, std::nullopt, session.project,
                           session.sessionId, {}, {}, {}, {}});
    }
    m_sessionLevels = std::move(levels);
    return alerts;
}

// Every figure goes into its text in one arg() call, so a "%1" in a folder or window name stays
// as it is instead of taking the next figure's place.
AlertText alertText(const UsageAlert &alert, const QDateTime &now)
{
    const QLocale locale;
    const auto clock = [&](const QDateTime &at) {
        return locale.toString(at.toLocalTime(), alert.windowKind == PlanWindowKind::fiveHour ? QStringLiteral("HH:mm")
                                                                                           : QStringLiteral("ddd HH:mm"));
    };
    const auto resetWords = [&] {
        if (!alert.resetsAt)
            return QString();
        return QObject::tr("Resets in %1, at %2.")
            .arg(durationText(std::max<qint64>(0, now.secsTo(*alert.resetsAt))), clock(*alert.resetsAt));
    };
    const QString percent = QString::number(alert.percent);
    switch (alert.subject) {
    case UsageAlert::Subject::context:
        return {QObject::tr("Context %1 % full").arg(percent),
                QObject::tr("The Claude Code session in %1 has used %2 % of its context window: "
                            "run /compact to free it.")
                    .arg(alert.project.isEmpty() ? QObject::tr("an unnamed folder")
                                                 : sanitizedDisplayText(alert.project),
                         percent)};
    case UsageAlert::Subject::quota:
    case UsageAlert::Subject::runOut: {
        const QString name = sanitizedDisplayText(alert.windowName);
        const QString limit = alert.windowKind == PlanWindowKind::credits ? QObject::tr("Usage credits")
            : alert.windowKind == PlanWindowKind::spend                  ? QObject::tr("Spend limit")
                                                                          : QObject::tr("%1 limit").arg(name);
        if (alert.subject == UsageAlert::Subject::runOut && alert.runOutAt && alert.resetsAt) {
            return {QObject::tr("%1 runs out before its reset").arg(limit),
                    QObject::tr("At this pace the %1 runs out at %2, %3 before it resets.")
                        .arg(limit, clock(*alert.runOutAt),
                             durationText(std::max<qint64>(0, alert.runOutAt->secsTo(*alert.resetsAt))))};
        }
        if (alert.threshold == 0)
            return {QObject::tr("%1 reset").arg(limit),
                    QObject::tr("The %1 window starts afresh at %2 %.").arg(name, percent)};
        return {QObject::tr("%1 at %2 %").arg(limit, percent), resetWords()};
    }
    }
    return {};
}
