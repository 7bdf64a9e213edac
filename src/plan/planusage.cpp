#include "planusage.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// Rounded half away from zero and capped at 100. Saturates instead of overflowing on a
// report holding an absurd number, so the panel never sees undefined behaviour.
qint64 wholePercent(double utilization)
{
    if (std::isnan(utilization))
        return 0;
    const double rounded = std::round(utilization);
    if (rounded >= 100)
        return 100;
    // -2^63 is exactly representable; anything at or below it saturates.
    constexpr double lowest = -9223372036854775808.0;
    if (rounded <= lowest)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(rounded);
}

} // namespace

qint64 PlanUsage::fiveHourPercent() const
{
    return wholePercent(fiveHourUtilization);
}

qint64 PlanUsage::weeklyPercent() const
{
    return wholePercent(weeklyUtilization);
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
