#include "planusage.h"

#include "historyrecord.h"
#include "windowrule.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// Rounded half away from zero and held to 0..100, so an absurd report (negative, NaN, huge)
// never shows as a figure the panel cannot hold.
std::optional<qint64> wholePercent(std::optional<double> utilization)
{
    if (!utilization)
        return std::nullopt;
    if (std::isnan(*utilization))
        return 0;
    const auto percent = static_cast<qint64>(std::round(std::clamp(*utilization, 0.0, 100.0)));
    Q_ASSERT(percent >= 0 && percent <= 100);
    return percent;
}

} // namespace

std::optional<qint64> PlanUsage::fiveHourPercent() const
{
    return wholePercent(fiveHourUtilization);
}

std::optional<qint64> PlanUsage::weeklyPercent() const
{
    return wholePercent(weeklyUtilization);
}

bool PlanUsage::hasWindows() const
{
    return fiveHourUtilization || fiveHourResetsAt || weeklyUtilization || weeklyResetsAt || !windows.isEmpty();
}

QString PlanUsage::resetTimerString(bool weekly) const
{
    return resetTimerString(weekly, QDateTime::currentDateTimeUtc());
}

QString PlanUsage::resetTimerString(bool weekly, const QDateTime &now) const
{
    return resetCountdown(weekly ? weeklyResetsAt : fiveHourResetsAt, now);
}

QString resetCountdown(const std::optional<QDateTime> &resetsAt, const QDateTime &now)
{
    if (!resetsAt || !resetsAt->isValid() || !now.isValid())
        return QStringLiteral("00 00 00");
    // Whole seconds left, truncated; a reset in the past counts as now.
    const qint64 total = std::max<qint64>(0, now.msecsTo(*resetsAt) / 1000);
    const qint64 days = std::min<qint64>(total / 86400, 99);
    const qint64 hours = (total % 86400) / 3600;
    const qint64 minutes = (total % 3600) / 60;
    return QStringLiteral("%1 %2 %3")
        .arg(days, 2, 10, QLatin1Char('0'))
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'));
}

QString PlanFailure::code() const
{
    switch (reason) {
    case PlanFailureReason::noToken:
        return QStringLiteral("NO TOKEN");
    case PlanFailureReason::tokenExpired:
        return QStringLiteral("TOKEN EXPIRED");
    case PlanFailureReason::credentialsUnreadable:
        return QStringLiteral("LOGIN UNREADABLE");
    case PlanFailureReason::keychainDenied:
        return QStringLiteral("KEYCHAIN DENIED");
    case PlanFailureReason::rateLimited:
        return QStringLiteral("RATE LIMITED");
    case PlanFailureReason::badReply:
        return QStringLiteral("BAD REPLY");
    case PlanFailureReason::httpStatus:
        Q_ASSERT(httpStatus > 0);
        return QStringLiteral("HTTP %1").arg(httpStatus);
    case PlanFailureReason::timedOut:
        return QStringLiteral("TIMED OUT");
    case PlanFailureReason::transport:
        return detail;
    }
    return detail;
}

QString PlanWindow::key() const
{
    switch (kind) {
    case PlanWindowKind::fiveHour: return HistoryKey::fiveHour;
    case PlanWindowKind::weekly: return scope.isEmpty() ? HistoryKey::sevenDay : HistoryKey::sevenDayOf(scope);
    case PlanWindowKind::credits: return HistoryKey::credits;
    case PlanWindowKind::spend: return HistoryKey::spend;
    }
    return {};
}

QString PlanWindow::name() const
{
    switch (kind) {
    case PlanWindowKind::fiveHour: return QStringLiteral("5-hour");
    case PlanWindowKind::weekly:
        return scope.isEmpty() ? QStringLiteral("7-day") : QStringLiteral("%1 weekly").arg(scope);
    case PlanWindowKind::credits: return QStringLiteral("Credits");
    case PlanWindowKind::spend: return QStringLiteral("Spend limit");
    }
    return {};
}

qint64 PlanWindow::percent() const
{
    if (kind == PlanWindowKind::credits || kind == PlanWindowKind::spend) {
        if (std::isnan(utilization))
            return 0;
        return static_cast<qint64>(std::round(std::clamp(utilization, 0.0, 999.0)));
    }
    return *wholePercent(utilization);
}

bool PlanWindow::hasReset(const QDateTime &now) const
{
    return ::hasReset(resetsAt, now);
}

bool PlanWindow::isStale(const QDateTime &now) const
{
    const QDateTime present = presentTime(asOf, now);
    return !present.isValid() || present.secsTo(now) > planReportStaleSeconds;
}

PlanUsage PlanUsage::fromWindows(QList<PlanWindow> windows, const QDateTime &now)
{
    // Panel order; windows of one kind keep the order they came in.
    std::stable_sort(windows.begin(), windows.end(), [](const PlanWindow &a, const PlanWindow &b) {
        return std::pair(int(a.kind), !a.scope.isEmpty()) < std::pair(int(b.kind), !b.scope.isEmpty());
    });
    const auto shownPercent = [&now](const PlanWindow &w) { return w.hasReset(now) ? 0.0 : w.utilization; };
    PlanWindow *binding = nullptr;
    for (PlanWindow &window : windows) {
        window.binding = false;
        if (window.kind != PlanWindowKind::weekly)
            continue;
        if (!binding || (window.active && !binding->active)
            || (window.active == binding->active && shownPercent(window) > shownPercent(*binding)))
            binding = &window;
    }
    if (binding)
        binding->binding = true;

    PlanUsage usage;
    bool ahead = false;
    for (const PlanWindow &window : windows) {
        const QDateTime asOf = presentTime(window.asOf, now);
        ahead = ahead || (window.asOf.isValid() && !asOf.isValid());
        if (asOf.isValid() && (!usage.fetchedAt.isValid() || asOf > usage.fetchedAt))
            usage.fetchedAt = asOf;
        const bool reset = window.hasReset(now);
        if (window.kind == PlanWindowKind::fiveHour) {
            usage.fiveHourUtilization = shownPercent(window);
            usage.fiveHourResetsAt = reset ? std::nullopt : window.resetsAt;
        } else if (window.binding) {
            usage.weeklyUtilization = shownPercent(window);
            usage.weeklyResetsAt = reset ? std::nullopt : window.resetsAt;
            usage.weeklyScope = window.scope.isEmpty() ? std::nullopt : std::optional(window.scope);
        }
    }
    // Figures stamped only ahead of the clock are as old as can be.
    if (!usage.fetchedAt.isValid() && ahead)
        usage.fetchedAt = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    usage.windows = std::move(windows);
    return usage;
}

QList<PlanWindow> PlanUsage::shownWindows() const
{
    if (!windows.isEmpty())
        return windows;
    QList<PlanWindow> flat;
    if (fiveHourUtilization)
        flat.append({PlanWindowKind::fiveHour, {}, *fiveHourUtilization, fiveHourResetsAt, PlanSource::usageService,
                     fetchedAt, false, false});
    if (weeklyUtilization)
        flat.append({PlanWindowKind::weekly, weeklyScope.value_or(QString()), *weeklyUtilization, weeklyResetsAt,
                     PlanSource::usageService, fetchedAt, false, true});
    return flat;
}

std::optional<PlanWindow> PlanUsage::window(const QString &key) const
{
    for (const PlanWindow &window : shownWindows())
        if (window.key() == key)
            return window;
    return std::nullopt;
}

QList<PlanWindow> PlanUsage::weeklySteps() const
{
    QList<PlanWindow> steps;
    for (const PlanWindow &window : shownWindows())
        if (window.binding)
            steps.prepend(window);
        else if (window.kind != PlanWindowKind::fiveHour)
            steps.append(window);
    return steps;
}
