#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// A report older than this is shown as stale.
inline constexpr qint64 planReportStaleSeconds = 15 * 60;

// Where plan figures come from, in the order they are looked at: the first two need no login.
enum class PlanSource { statusLine, cachedReport, usageService };

// The kinds of limit a plan has.
enum class PlanWindowKind { fiveHour, weekly, credits, spend };

// One limit of the plan with one figure: the 5-hour session, the weekly window of all models or
// of one model (scope), the month's usage credits or the spend limit.
struct PlanWindow
{
    PlanWindowKind kind = PlanWindowKind::fiveHour;
    QString scope; // a weekly window's model ("Opus"); empty for all models
    double utilization = 0; // per cent; credits and the spend limit may pass 100
    std::optional<QDateTime> resetsAt; // absent for credits, and for a window not started
    PlanSource source = PlanSource::usageService;
    QDateTime asOf; // when the figure was received or fetched (UTC)
    bool active = false;  // the report marks it as the limit in force
    bool binding = false; // the weekly window shown first: the active one, else the highest

    // Stable across sources and launches: "five_hour", "seven_day", "seven_day:Opus", "credits", "spend".
    QString key() const;
    // As the panel names it: "5-hour", "7-day", "Opus weekly", "Credits", "Spend limit"; the
    // scope as the report sends it, to be sanitised where it is shown.
    QString name() const;
    // Whole per cent: 0..100 for time windows, 0..999 for credits and the spend limit.
    qint64 percent() const;
    // The reset has come: from then on the window shows as a new idle one.
    bool hasReset(const QDateTime &now) const;
    // Older than planReportStaleSeconds at `now`, or stamped too far ahead of the clock to tell.
    bool isStale(const QDateTime &now) const;

    friend bool operator==(const PlanWindow &, const PlanWindow &) = default;
};

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
    // Every window in panel order: 5-hour, 7-day, per-model weekly windows, credits, spend.
    // The figures above are the 5-hour and the binding weekly window's.
    QList<PlanWindow> windows;

    // The report for these windows at `now`: ordered, the binding weekly window marked, and the
    // flat figures taken from them, a window whose reset has passed showing as reset (0 %, no
    // reset time). fetchedAt is the newest figure's time (as the present allows it). An
    // invalid `now` leaves resets as they are.
    static PlanUsage fromWindows(QList<PlanWindow> windows, const QDateTime &now);
    // `windows`, or for a report made of the flat figures alone, windows made of those.
    QList<PlanWindow> shownWindows() const;
    // The window of that key, if the report has it.
    std::optional<PlanWindow> window(const QString &key) const;
    // What pressing 7-DAY in plan mode steps through: the binding weekly window, the other
    // weekly windows, credits, the spend limit.
    QList<PlanWindow> weeklySteps() const;

    // Rounded half away from zero and held to 0..100; absent when the window is absent.
    std::optional<qint64> fiveHourPercent() const;
    std::optional<qint64> weeklyPercent() const;

    // Whether the report carries any window at all; a plan without these limits carries none.
    bool hasWindows() const;

    // "DD HH MM" countdown to the chosen window's reset; "00 00 00" when it has none.
    QString resetTimerString(bool weekly) const; // reads the system clock
    QString resetTimerString(bool weekly, const QDateTime &now) const;

    friend bool operator==(const PlanUsage &, const PlanUsage &) = default;
};

// "DD HH MM" countdown to `resetsAt`; "00 00 00" when there is none, a passed one counting as now.
QString resetCountdown(const std::optional<QDateTime> &resetsAt, const QDateTime &now);

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
