#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// A report older than this is shown as stale.
inline constexpr qint64 planReportStaleSeconds = 15 * 60;

// One plan usage report: utilisation (per cent, as the service reports it) and reset instant
// of the 5-hour and 7-day ("weekly") quota windows. A window the report leaves out or sends
// as null is absent, never 0 %.
struct PlanUsage
{
    // The highest 5-hour figure: "five_hour" or a "session" entry of "limits".
    std::optional<double> fiveHourUtilization;
    std::optional<QDateTime> fiveHourResetsAt;
    // The highest weekly figure that binds: "seven_day" or any weekly entry of "limits".
    std::optional<double> weeklyUtilization;
    std::optional<QDateTime> weeklyResetsAt;
    // The scope's display name ("Opus") when the weekly figure comes from a scoped limit.
    std::optional<QString> weeklyScope;
    // When the report arrived (UTC); invalid for a report that was never fetched.
    QDateTime fetchedAt;

    // Rounded half away from zero and held to 0..100; absent when the window is absent.
    std::optional<qint64> fiveHourPercent() const;
    std::optional<qint64> weeklyPercent() const;

    // Whether the report carries any window at all; a plan without these limits carries none.
    bool hasWindows() const;

    // Older than planReportStaleSeconds at `now`.
    bool isStale(const QDateTime &now) const;

    // "DD HH MM" countdown to the chosen window's reset; "00 00 00" when it has none.
    QString resetTimerString(bool weekly) const; // reads the system clock
    QString resetTimerString(bool weekly, const QDateTime &now) const;

    friend bool operator==(const PlanUsage &, const PlanUsage &) = default;
};

// Why the last fetch failed. The panel words each reason; the plan code only names it.
enum class PlanFailureReason {
    noToken,               // no stored login
    tokenExpired,          // the stored access token has expired: Claude Code renews it when next used
    credentialsUnreadable, // the login is there but could not be read; detail says why
    keychainDenied,        // the keychain refused the read, or its prompt was cancelled
    rateLimited,           // HTTP 429: nothing is sent before retryAt
    badReply,           // a 200 reply that is not a usage report
    httpStatus,         // any other unexpected status
    timedOut,           // an attempt or the whole fetch ran out of time
    transport,          // the connection failed
};

struct PlanFailure
{
    PlanFailureReason reason = PlanFailureReason::transport;
    int httpStatus = 0;    // for httpStatus
    // transport: the network layer's words; credentialsUnreadable and keychainDenied: the
    // system's. Never a token.
    QString detail;
    // rateLimited: no request before this instant; otherwise the next automatic fetch, if known.
    std::optional<QDateTime> retryAt;

    // The short upper-case code published as lastError: "NO TOKEN", "HTTP 500", "RATE LIMITED", …
    QString code() const;

    friend bool operator==(const PlanFailure &, const PlanFailure &) = default;
};
