#pragma once

#include "credentialstore.h"
#include "fileaccess.h"
#include "planschedule.h"
#include "planusage.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>

struct PlanFetchUpdate;
struct PlanPublishGate;
class QThread;

// Everything a fetch touches outside the process, so tests can stand in for each piece.
struct PlanFetcherEnvironment
{
    // Only this one ever receives the token.
    QUrl usageURL;
    std::shared_ptr<CredentialStore> credentials;
    // Wall clock, for token expiry, the schedule and the spacing of manual fetches.
    std::function<QDateTime()> now;
    // The wait between failed attempts; called on the fetch's own worker thread, blocks for
    // the given time and returns early once the stop token is triggered (the fetcher is going away).
    std::function<void(std::chrono::milliseconds, std::stop_token)> sleep;
    // The tick that moves countdowns and checks the schedule against `now`.
    std::chrono::milliseconds tickInterval{1000};

    // The shipped program's: the service's endpoint (or GLIMMEROX_USAGE_URL when it names a
    // loopback host), the system credential store of the current user, the system clock and a
    // real sleep.
    static PlanFetcherEnvironment system();
};

// Fetches the plan usage report at launch, every 5 minutes, sooner after a wake from sleep,
// backing off after failures, when the panel asks (at most every 30 s), and when Claude Code
// stores a new login after one was missing or expired; publishes the outcome on the main
// thread. Claude Code's login is only read. One fetch runs at a time, and none starts before
// a rate limit's time. A 1-second tick keeps countdowns moving.
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
    // Where the login is read from, for the panel's words ("~/.claude/.credentials.json").
    QString credentialLocation() const;
    // When the next automatic fetch is due; may be past while it waits for the tick.
    QDateTime nextFetchAt() const { return m_schedule.nextFetchAt(); }

    // Manual fetches (K2, F5) start at least this long after the last fetch started.
    static constexpr std::chrono::seconds manualFetchSpacing{30};
    // A credentials change is acted on once the file has been quiet this long.
    static constexpr std::chrono::milliseconds credentialSettle{250};

    // The panel's K2 and F5: starts a fetch unless one runs (its future is returned then), the
    // last one started less than manualFetchSpacing ago, or a rate limit holds (a finished
    // future: the last outcome stands). The future finishes once every change the fetch
    // publishes has been queued to the main thread.
    QFuture<void> fetchUsage();

    // Off while Claude Code's status line supplies the plan figures: then no fetch starts, by
    // schedule or by request, so the login is never read and the service never called; a
    // running fetch is stopped. On by default.
    void setServiceEnabled(bool enabled);
    bool isServiceEnabled() const { return m_serviceEnabled; }

    // Held while the sources that need no login (Claude Code's status line and cached report)
    // have a figure newer than 15 minutes: then the schedule sends nothing. K2 and F5 still fetch.
    void setAutomaticFetchHeld(bool held) { m_automaticFetchHeld = held; }

    // Report parsing, exposed for tests and fuzzing; both are pure. A body that is not a JSON
    // object is no report: absent. An object without any window is a report of a plan without
    // these limits (PlanUsage::hasWindows() is false). `fetchedAt` dates the report and each of
    // its windows.
    static std::optional<PlanUsage> parse(const QByteArray &body, const QDateTime &fetchedAt = {});
    static std::optional<QDateTime> parseDate(const std::optional<QString> &text);

signals:
    void planUsageChanged();
    void isFetchingChanged();
    void lastErrorChanged();
    // Once a second, with nothing changed, so countdowns computed from the clock advance.
    void ticked();

private:
    enum class FetchTrigger { manual, schedule };

    // Every fetch starts here, whatever asked for it.
    QFuture<void> fetch(FetchTrigger trigger);
    // Applies one published change on the main thread: usage first, then isFetching, then the
    // failure; the schedule learns the outcome, and the failure when the next try is.
    void apply(const PlanFetchUpdate &update);
    void onTick();
    QFuture<void> startFetch();
    bool isRunning() const;
    void stopFetches();
    void watchCredentials();
    void onCredentialsTouched();
    void warnOnce(const PlanFailure &failure);
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
    std::optional<QDateTime> m_lastFetchStartedAt;
    bool m_serviceEnabled = true;
    bool m_automaticFetchHeld = false;
    // Fetches still running, each on its own thread (never one of the global pool's, which a
    // fetch would hold through its waits), with the source that stops it.
    QHash<QThread *, std::stop_source> m_fetches;
    std::shared_ptr<PlanPublishGate> m_gate;
    QFileSystemWatcher m_credentialWatch;
    std::optional<FileStatus> m_credentialStatus;
    QTimer m_credentialSettleTimer;
    std::set<PlanFailureReason> m_warnedReasons; // unexpected failures already logged
};
