#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// One plan usage report: utilisation (per cent, as the service reports it) and reset instant
// of the 5-hour and 7-day ("weekly") quota windows.
struct PlanUsage
{
    double fiveHourUtilization = 0;
    std::optional<QDateTime> fiveHourResetsAt;
    double weeklyUtilization = 0;
    std::optional<QDateTime> weeklyResetsAt;

    // Rounded half away from zero, capped at 100, no lower bound.
    qint64 fiveHourPercent() const;
    qint64 weeklyPercent() const;

    // "DD HH MM" countdown to the chosen window's reset; "00 00 00" when it has none.
    QString resetTimerString(bool weekly) const; // reads the system clock
    QString resetTimerString(bool weekly, const QDateTime &now) const;

    friend bool operator==(const PlanUsage &, const PlanUsage &) = default;
};
