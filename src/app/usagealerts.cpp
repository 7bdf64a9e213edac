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

QList<UsageAlert> UsageAlerts::observeWindow(Window &window, const PlanWindow &figure, const QDateTime &now)
{
    // From its reset time on, a window is a new idle one at 0 %.
    const bool reset = figure.hasReset(now);
    const qint64 percent = reset ? 0 : figure.percent();
    const std::optional<QDateTime> resetsAt = reset ? std::nullopt : figure.resetsAt;
    const int level = levelOf(percent);
    const auto alert = [&](int threshold) {
        return UsageAlert{UsageAlert::Subject::quota, threshold, percent, resetsAt, {}, figure.key(), figure.name(),
                          figure.kind};
    };
    if (!window.seen) {
        window = {true, resetsAt, level, level > 0};
        return {};
    }
    QList<UsageAlert> alerts;
    if (!isSameWindow(window.period, resetsAt)) {
        if (window.reachedInPeriod)
            alerts.append(alert(0));
        window = {true, resetsAt, 0, false};
    }
    window.level = keptLevel(window.level, percent);
    window.reachedInPeriod = window.reachedInPeriod || level > 0;
    if (level > window.level) {
        window.level = level;
        alerts.append(alert(level));
    }
    return alerts;
}

QList<UsageAlert> UsageAlerts::observe(const PlanUsage &usage, const QDateTime &now)
{
    QList<UsageAlert> alerts;
    for (const PlanWindow &window : usage.shownWindows())
        alerts += observeWindow(m_windows[window.key()], window, now);
    return alerts;
}

QList<UsageAlert> UsageAlerts::observe(const SessionStats &stats)
{
    if (stats.sessionId.isEmpty())
        return {};
    const qint64 percent = stats.contextPercent();
    const int level = levelOf(percent);
    const auto known = m_sessionLevels.constFind(stats.sessionId);
    if (known == m_sessionLevels.cend()) {
        m_sessionLevels.insert(stats.sessionId, level);
        return {};
    }
    const int kept = keptLevel(*known, percent);
    m_sessionLevels[stats.sessionId] = std::max(kept, level);
    if (level <= kept)
        return {};
    return {{UsageAlert::Subject::context, level, percent, std::nullopt, projectName(stats.cwd), {}, {}, {}}};
}

AlertText alertText(const UsageAlert &alert)
{
    const QLocale locale;
    const auto resetWords = [&] {
        if (!alert.resetsAt)
            return QString();
        const QDateTime local = alert.resetsAt->toLocalTime();
        const QString format = alert.windowKind == PlanWindowKind::fiveHour ? QStringLiteral("HH:mm")
                                                                            : QStringLiteral("ddd HH:mm");
        return QObject::tr("Resets at %1.").arg(locale.toString(local, format));
    };
    switch (alert.subject) {
    case UsageAlert::Subject::context:
        return {QObject::tr("Context %1 % full").arg(alert.percent),
                QObject::tr("The Claude Code session in %1 has used %2 % of its context window.")
                    .arg(alert.project.isEmpty() ? QObject::tr("an unnamed folder") : sanitizedDisplayText(alert.project))
                    .arg(alert.percent)};
    case UsageAlert::Subject::quota: {
        const QString name = sanitizedDisplayText(alert.windowName);
        const QString limit = alert.windowKind == PlanWindowKind::credits ? QObject::tr("Usage credits")
            : alert.windowKind == PlanWindowKind::spend                  ? QObject::tr("Spend limit")
                                                                          : QObject::tr("%1 limit").arg(name);
        if (alert.threshold == 0)
            return {QObject::tr("%1 reset").arg(limit),
                    QObject::tr("The %1 window starts afresh at %2 %.").arg(name).arg(alert.percent)};
        return {QObject::tr("%1 at %2 %").arg(limit).arg(alert.percent), resetWords()};
    }
    }
    return {};
}
