#pragma once

#include <QDateTime>

#include <chrono>
#include <utility>
#include <optional>

// When the next automatic fetch is due, and before when nothing may be sent at all.
// A pure value driven by the fetcher's tick, so it can be checked with any clock.
class PlanSchedule
{
public:
    // The first fetch is due at launch.
    explicit PlanSchedule(const QDateTime &launch);

    QDateTime nextFetchAt() const { return m_nextFetchAt; }
    // Set by a 429: no request of any kind before this instant.
    std::optional<QDateTime> blockedUntil() const { return m_blockedUntil; }

    bool mayRequest(const QDateTime &now) const;
    bool isDue(const QDateTime &now) const;

    // A fetch started: no automatic one is due until its outcome moves the time again.
    void started(const QDateTime &now);
    // A report arrived: the next is due one refresh period later.
    void succeeded(const QDateTime &now);
    // A fetch failed: back off 5, 10, 20, then 30 minutes for each failure in a row. A 429
    // instead blocks every request until `rateLimitedUntil` (at most 15 minutes ahead) and is
    // tried again right then.
    void failed(const QDateTime &now, const std::optional<QDateTime> &rateLimitedUntil = std::nullopt);
    // Something may have cured the last failure: a fetch is due now, or when a 429 block ends.
    void fetchSoon(const QDateTime &now);

    // Called on every tick with the wall clock and a clock that stops while the machine sleeps.
    // When the two disagree by more than a minute (sleep and wake, or the clock was set), a
    // fetch is due soon, still within any 429 block, which is held to at most 15 minutes ahead.
    void observeClocks(const QDateTime &wallNow, std::chrono::milliseconds steadyNow);

private:
    QDateTime m_nextFetchAt;
    std::optional<QDateTime> m_blockedUntil;
    int m_failuresInARow = 0;
    std::optional<std::pair<QDateTime, std::chrono::milliseconds>> m_lastClocks;
};
