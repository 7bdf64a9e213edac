#include "usagealerts.h"

#include "displaytext.h"

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

// The service sends the same reset instant with a little jitter from report to report; a new
// window period starts only when the reset moves on by more than that, or appears or vanishes
// (a window that is not running has no reset).
bool startsNewPeriod(const std::optional<QDateTime> &current, const std::optional<QDateTime> &next)
{
    constexpr qint64 jitterSeconds = 60;
    if (current.has_value() != next.has_value())
        return true;
    return current && current->secsTo(*next) > jitterSeconds;
}

QString windowName(UsageAlert::Subject subject)
{
    return subject == UsageAlert::Subject::fiveHour ? QObject::tr("5-hour") : QObject::tr("7-day");
}

} // namespace

QList<UsageAlert> UsageAlerts::observeWindow(Window &window, UsageAlert::Subject subject,
                                             std::optional<qint64> percent, const std::optional<QDateTime> &resetsAt)
{
    if (!percent)
        return {};
    Q_ASSERT(*percent >= 0 && *percent <= 100); // the plan figures are held to 0..100
    const int level = levelOf(*percent);
    if (!window.seen) {
        window = {true, resetsAt, level, level > 0};
        return {};
    }
    QList<UsageAlert> alerts;
    if (startsNewPeriod(window.period, resetsAt)) {
        if (window.reachedInPeriod)
            alerts.append({subject, 0, *percent, resetsAt, {}, {}});
        window = {true, resetsAt, 0, false};
    }
    window.level = keptLevel(window.level, *percent);
    window.reachedInPeriod = window.reachedInPeriod || level > 0;
    if (level > window.level) {
        window.level = level;
        alerts.append({subject, level, *percent, resetsAt, {}, {}});
    }
    return alerts;
}

QList<UsageAlert> UsageAlerts::observe(const PlanUsage &usage)
{
    return observeWindow(m_fiveHour, UsageAlert::Subject::fiveHour, usage.fiveHourPercent(), usage.fiveHourResetsAt)
        + observeWindow(m_weekly, UsageAlert::Subject::weekly, usage.weeklyPercent(), usage.weeklyResetsAt);
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
                           session.sessionId});
    }
    m_sessionLevels = std::move(levels);
    return alerts;
}

AlertText alertText(const UsageAlert &alert, const QDateTime &now)
{
    const QLocale locale;
    const auto resetWords = [&] {
        if (!alert.resetsAt)
            return QString();
        const QDateTime local = alert.resetsAt->toLocalTime();
        const QString format = alert.subject == UsageAlert::Subject::weekly ? QStringLiteral("ddd HH:mm")
                                                                            : QStringLiteral("HH:mm");
        return QObject::tr("Resets in %1, at %2.")
            .arg(durationText(std::max<qint64>(0, now.secsTo(*alert.resetsAt))), locale.toString(local, format));
    };
    switch (alert.subject) {
    case UsageAlert::Subject::context:
        // One arg() call for every figure, so a "%1" in a folder name stays as it is.
        return {QObject::tr("Context %1 % full").arg(alert.percent),
                QObject::tr("The Claude Code session in %1 has used %2 % of its context window: "
                            "run /compact to free it.")
                    .arg(alert.project.isEmpty() ? QObject::tr("an unnamed folder")
                                                 : sanitizedDisplayText(alert.project),
                         QString::number(alert.percent))};
    case UsageAlert::Subject::fiveHour:
    case UsageAlert::Subject::weekly:
        if (alert.threshold == 0)
            return {QObject::tr("%1 quota reset").arg(windowName(alert.subject)),
                    QObject::tr("The %1 window starts afresh at %2 %.").arg(windowName(alert.subject)).arg(alert.percent)};
        return {QObject::tr("%1 quota at %2 %").arg(windowName(alert.subject)).arg(alert.percent), resetWords()};
    }
    return {};
}
