#include "planschedule.h"

#include <algorithm>

namespace {

constexpr qint64 refreshSeconds = 5 * 60;
constexpr qint64 maxBackoffSeconds = 30 * 60;
constexpr qint64 maxBlockSeconds = 15 * 60;
constexpr qint64 afterWakeSeconds = 10;
constexpr std::chrono::milliseconds clockDisagreement(60 * 1000);

} // namespace

PlanSchedule::PlanSchedule(const QDateTime &launch) : m_nextFetchAt(launch) { }

bool PlanSchedule::mayRequest(const QDateTime &now) const
{
    return !m_blockedUntil || now >= *m_blockedUntil;
}

bool PlanSchedule::isDue(const QDateTime &now) const
{
    return now >= m_nextFetchAt && mayRequest(now);
}

void PlanSchedule::started(const QDateTime &now)
{
    m_nextFetchAt = std::max(m_nextFetchAt, now.addSecs(refreshSeconds));
}

void PlanSchedule::succeeded(const QDateTime &now)
{
    m_failuresInARow = 0;
    m_nextFetchAt = now.addSecs(refreshSeconds);
}

void PlanSchedule::failed(const QDateTime &now, const std::optional<QDateTime> &rateLimitedUntil)
{
    m_failuresInARow = std::min(m_failuresInARow + 1, 4);
    Q_ASSERT(m_failuresInARow >= 1);
    const qint64 backoff = std::min(refreshSeconds << (m_failuresInARow - 1), maxBackoffSeconds);
    m_nextFetchAt = now.addSecs(backoff);
    if (rateLimitedUntil) {
        m_blockedUntil = std::min(*rateLimitedUntil, now.addSecs(maxBlockSeconds));
        m_nextFetchAt = *m_blockedUntil;
    }
}

void PlanSchedule::fetchSoon(const QDateTime &now)
{
    m_nextFetchAt = std::min(m_nextFetchAt, m_blockedUntil ? std::max(now, *m_blockedUntil) : now);
}

void PlanSchedule::observeClocks(const QDateTime &wallNow, std::chrono::milliseconds steadyNow)
{
    const auto last = std::exchange(m_lastClocks, std::pair(wallNow, steadyNow));
    if (!last)
        return;
    const std::chrono::milliseconds wallElapsed(last->first.msecsTo(wallNow));
    const std::chrono::milliseconds steadyElapsed = steadyNow - last->second;
    const std::chrono::milliseconds disagreement = wallElapsed - steadyElapsed;
    if (disagreement < clockDisagreement && disagreement > -clockDisagreement)
        return;
    if (m_blockedUntil)
        m_blockedUntil = std::min(*m_blockedUntil, wallNow.addSecs(maxBlockSeconds));
    QDateTime soon = wallNow.addSecs(afterWakeSeconds);
    if (m_blockedUntil)
        soon = std::max(soon, *m_blockedUntil);
    m_nextFetchAt = std::min(m_nextFetchAt, soon);
}
