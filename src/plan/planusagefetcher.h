#pragma once

#include "credentialstore.h"
#include "planschedule.h"
#include "planusage.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

struct PlanFetchUpdate;
class QThread;

// Everything a fetch touches outside the process, so tests can stand in for each piece.
struct PlanFetcherEnvironment
{
    // Only these two ever receive the token.
    QUrl usageURL;
    QUrl tokenURL;
    std::shared_ptr<CredentialStore> credentials;
    // Wall clock, for token expiry and the new expiry after a renewal.
    std::function<QDateTime()> now;
    // The wait between failed attempts; called on the fetch's own worker thread, blocks for
    // the given time and returns early once the stop token is triggered (the fetcher is going away).
    std::function<void(std::chrono::milliseconds, std::stop_token)> sleep;
    // Whether a Claude Code session is live (a live record in the data directory's sessions/).
    // While it is, the borrowed login is never renewed: Claude Code renews its own.
    // Called on the fetch's worker thread.
    std::function<bool()> isClaudeCodeRunning = [] { return false; };
    // The tick that moves countdowns and checks the schedule against `now`.
    std::chrono::milliseconds tickInterval{1000};

    // The shipped program's: the service's endpoints (or GLIMMEROX_USAGE_URL and
    // GLIMMEROX_TOKEN_URL when they name a loopback host), the system credential store of the
    // current user, the system clock and a real sleep.
    static PlanFetcherEnvironment system();
};

// Fetches the plan usage report at launch, every 5 minutes, sooner after a wake from sleep,
// backing off after failures, and when the panel asks; renews the borrowed OAuth token only
// when that is safe; publishes the outcome on the main thread. One fetch runs at a time, and
// none starts before a rate limit's time. A 1-second tick keeps countdowns moving.
class PlanUsageFetcher : public QObject
{
    Q_OBJECT
    Q_PROPERTY(std::optional<PlanUsage> planUsage READ planUsage NOTIFY planUsageChanged)
    Q_PROPERTY(bool isFetching READ isFetching NOTIFY isFetchingChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)
    // The same failure with its reason and details, assigned together with lastError.
    Q_PROPERTY(std::optional<PlanFailure> lastFailure READ lastFailure NOTIFY lastErrorChanged)

public:
    explicit PlanUsageFetcher(QObject *parent = nullptr); // PlanFetcherEnvironment::system()
    explicit PlanUsageFetcher(PlanFetcherEnvironment environment, QObject *parent = nullptr);
    ~PlanUsageFetcher() override;
    Q_DISABLE_COPY_MOVE(PlanUsageFetcher)

    std::optional<PlanUsage> planUsage() const { return m_planUsage; }
    bool isFetching() const { return m_isFetching; }
    std::optional<QString> lastError() const { return m_lastError; }
    std::optional<PlanFailure> lastFailure() const { return m_lastFailure; }
    // Where the borrowed login is read from, for the panel's words ("~/.claude/.credentials.json").
    QString credentialLocation() const;

    // The panel's K2: starts a fetch unless one runs (its future is returned then) or a rate
    // limit holds (a finished future). The future finishes once every change the fetch
    // publishes has been queued to the main thread.
    QFuture<void> fetchUsage();

    // Off while Claude Code's status line supplies the plan figures: then no fetch starts, by
    // schedule or by request, so the login is never read and the service never called; a
    // running fetch is stopped. On by default.
    void setServiceEnabled(bool enabled);
    bool isServiceEnabled() const { return m_serviceEnabled; }

    // Report parsing, exposed for tests and fuzzing; both are pure. A body that is not a JSON
    // object holding "five_hour" or "seven_day" as an object is no report: absent.
    static std::optional<PlanUsage> parse(const QByteArray &body);
    static std::optional<QDateTime> parseDate(const std::optional<QString> &text);

signals:
    void planUsageChanged();
    void isFetchingChanged();
    void lastErrorChanged();
    // Once a second, with nothing changed, so countdowns computed from the clock advance.
    void ticked();

private:
    // Applies one published change on the main thread: usage first, then isFetching, then the
    // failure; the schedule learns the outcome, and the failure when the next try is.
    void apply(const PlanFetchUpdate &update);
    void onTick();
    QFuture<void> startFetch();
    bool isRunning() const;
    void stopFetches();
    void setPlanUsage(const std::optional<PlanUsage> &usage);
    void setIsFetching(bool fetching);
    void setLastFailure(const std::optional<PlanFailure> &failure);

    std::optional<PlanUsage> m_planUsage;
    bool m_isFetching = false;
    std::optional<QString> m_lastError;
    std::optional<PlanFailure> m_lastFailure;
    PlanFetcherEnvironment m_environment;
    QTimer m_tickTimer;
    QElapsedTimer m_steadyClock; // stops while the machine sleeps, unlike the wall clock
    PlanSchedule m_schedule;
    QFuture<void> m_running;
    bool m_serviceEnabled = true;
    // Fetches still running, each on its own thread (never one of the global pool's, which a
    // fetch would hold through its waits), with the source that stops it.
    QHash<QThread *, std::stop_source> m_fetches;
};
