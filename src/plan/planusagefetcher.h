#pragma once

#include "credentialstore.h"
#include "planusage.h"

#include <QByteArray>
#include <QDateTime>
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

    // The shipped program's: the service's endpoints, the system credential store of the
    // current user, the system clock and a real sleep.
    static PlanFetcherEnvironment system();
};

// Fetches the plan usage report on request, renewing the borrowed OAuth token when needed,
// and publishes the outcome on the main thread. A 1-second tick keeps countdowns moving.
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

    std::optional<PlanUsage> planUsage() const { return m_planUsage; }
    bool isFetching() const { return m_isFetching; }
    std::optional<QString> lastError() const { return m_lastError; }
    std::optional<PlanFailure> lastFailure() const { return m_lastFailure; }
    // Where the borrowed login is read from, for the panel's words ("~/.claude/.credentials.json").
    QString credentialLocation() const;

    // Starts one independent fetch and returns at once; the future finishes once every
    // change the fetch publishes has been queued to the main thread.
    QFuture<void> fetchUsage();

    // Report parsing, exposed for tests and fuzzing; both are pure.
    static PlanUsage parse(const QByteArray &body);
    static std::optional<QDateTime> parseDate(const std::optional<QString> &text);

signals:
    void planUsageChanged();
    void isFetchingChanged();
    void lastErrorChanged();
    // Once a second, with nothing changed, so countdowns computed from the clock advance.
    void ticked();

private:
    // Applies one published change on the main thread: usage first, then isFetching, then the error.
    void apply(const PlanFetchUpdate &update);
    void stopFetches();
    void setPlanUsage(const std::optional<PlanUsage> &usage);
    void setIsFetching(bool fetching);
    void setLastError(const std::optional<QString> &error);

    std::optional<PlanUsage> m_planUsage;
    bool m_isFetching = false;
    std::optional<QString> m_lastError;
    std::optional<PlanFailure> m_lastFailure;
    PlanFetcherEnvironment m_environment;
    QTimer m_tickTimer;
    // Fetches still running, each on its own thread (never one of the global pool's, which a
    // fetch would hold through its waits), with the source that stops it.
    QHash<QThread *, std::stop_source> m_fetches;
};
