#include "planusage.h"

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
    return fiveHourUtilization || fiveHourResetsAt || weeklyUtilization || weeklyResetsAt;
}

bool PlanUsage::isStale(const QDateTime &now) const
{
    return fetchedAt.isValid() && now.isValid() && fetchedAt.secsTo(now) > planReportStaleSeconds;
}

QString PlanUsage::resetTimerString(bool weekly) const
{
    return resetTimerString(weekly, QDateTime::currentDateTimeUtc());
}

QString PlanUsage::resetTimerString(bool weekly, const QDateTime &now) const
{
    const std::optional<QDateTime> &resetsAt = weekly ? weeklyResetsAt : fiveHourResetsAt;
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
