#include "planusagefetcher.h"

#include "claudedatadir.h"
#include "planlog.h"
#include "planfetchtask.h"
#include "planrules.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPromise>
#include <QThread>

#include <cstdio>
#include <mutex>

namespace {

// An endpoint, or its loopback override from the environment; a refused override is said once.
QUrl endpointFromEnvironment(const char *variable, const QUrl &standard)
{
    QString complaint;
    const QUrl url = PlanRules::endpoint(standard, qEnvironmentVariable(variable), &complaint);
    if (!complaint.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(complaint));
    return url;
}

// How long going away waits for a stopped fetch. A stopped fetch ends at once unless it is
// stuck in the system's credential store (a keychain prompt); quitting never waits for that.
constexpr std::chrono::milliseconds stopWait{1000};

// Failures that need no warning: they say how things stand, not that something broke.
bool isExpected(PlanFailureReason reason)
{
    return reason == PlanFailureReason::noToken || reason == PlanFailureReason::tokenExpired
        || reason == PlanFailureReason::rateLimited;
}

// Failures that a new login in the store may cure.
bool awaitsLogin(PlanFailureReason reason)
{
    return reason == PlanFailureReason::noToken || reason == PlanFailureReason::tokenExpired
        || reason == PlanFailureReason::credentialsUnreadable || reason == PlanFailureReason::keychainDenied;
}

} // namespace

// The way from fetch threads back to their fetcher. Closed when the fetcher goes away, so a
// thread that outlives it publishes into nothing.
struct PlanPublishGate
{
    std::mutex mutex;
    PlanUsageFetcher *fetcher = nullptr;
};

PlanFetcherEnvironment PlanFetcherEnvironment::system()
{
    PlanFetcherEnvironment environment;
    environment.usageURL = endpointFromEnvironment(
        "GLIMMEROX_USAGE_URL", QUrl(QStringLiteral("https://api.anthropic.com/api/oauth/usage")));
    environment.credentials = systemCredentialStore(claudeDataDirectory());
    environment.now = [] { return QDateTime::currentDateTimeUtc(); };
    environment.sleep = &PlanFetchTask::sleepFor;
    return environment;
}

PlanUsageFetcher::PlanUsageFetcher(QObject *parent) : PlanUsageFetcher(PlanFetcherEnvironment::system(), parent) { }

PlanUsageFetcher::PlanUsageFetcher(PlanFetcherEnvironment environment, QObject *parent)
    : QObject(parent),
      m_environment(std::move(environment)),
      m_schedule(m_environment.now ? m_environment.now() : QDateTime::currentDateTimeUtc()),
      m_gate(std::make_shared<PlanPublishGate>())
{
    m_gate->fetcher = this;
    // An environment left partly empty falls back to the real clock and the real wait.
    if (!m_environment.now)
        m_environment.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_environment.sleep)
        m_environment.sleep = &PlanFetchTask::sleepFor;
    Q_ASSERT(m_environment.tickInterval.count() > 0);
    m_steadyClock.start();
    m_tickTimer.setInterval(m_environment.tickInterval);
    connect(&m_tickTimer, &QTimer::timeout, this, &PlanUsageFetcher::onTick);
    m_tickTimer.start();
    m_credentialSettleTimer.setSingleShot(true);
    m_credentialSettleTimer.setInterval(credentialSettle);
    connect(&m_credentialSettleTimer, &QTimer::timeout, this, [this] {
        m_schedule.fetchSoon(m_environment.now());
        onTick();
    });
    connect(&m_credentialWatch, &QFileSystemWatcher::fileChanged, this, &PlanUsageFetcher::onCredentialsTouched);
    connect(&m_credentialWatch, &QFileSystemWatcher::directoryChanged, this, &PlanUsageFetcher::onCredentialsTouched);
    watchCredentials();
    // The fetch at launch, once the caller has connected to the signals.
    QMetaObject::invokeMethod(this, &PlanUsageFetcher::onTick, Qt::QueuedConnection);
    // A fetch waiting out its retries must not keep the application from quitting.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &PlanUsageFetcher::stopFetches);
}

// Running fetches are stopped (waits cut short, requests aborted) and their remaining changes
// dropped. Each is waited for briefly; one stuck in a keychain prompt is left to end by itself,
// touching nothing of the fetcher's.
PlanUsageFetcher::~PlanUsageFetcher()
{
    stopFetches();
    {
        const std::lock_guard lock(m_gate->mutex);
        m_gate->fetcher = nullptr;
    }
    for (QThread *thread : m_fetches.keys()) {
        if (!thread->wait(QDeadlineTimer(stopWait)))
            qCDebug(lcPlan) << "a fetch is still reading the login; left to end by itself";
    }
}

void PlanUsageFetcher::stopFetches()
{
    for (std::stop_source &stop : m_fetches)
        stop.request_stop();
}

// Moves countdowns, notices a wake from sleep, and starts the automatic fetch when it is due.
void PlanUsageFetcher::onTick()
{
    const QDateTime now = m_environment.now();
    m_schedule.observeClocks(now, std::chrono::milliseconds(m_steadyClock.elapsed()));
    if (m_schedule.isDue(now) && !m_automaticFetchHeld)
        fetch(FetchTrigger::schedule);
    emit ticked();
}

void PlanUsageFetcher::setServiceEnabled(bool enabled)
{
    m_serviceEnabled = enabled;
    if (!enabled)
        stopFetches();
}

bool PlanUsageFetcher::isRunning() const
{
    return m_running.isValid() && !m_running.isFinished();
}

QFuture<void> PlanUsageFetcher::fetchUsage()
{
    return fetch(FetchTrigger::manual);
}

QFuture<void> PlanUsageFetcher::fetch(FetchTrigger trigger)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!m_serviceEnabled)
        return QtFuture::makeReadyFuture();
    if (isRunning())
        return m_running; // its outcome is the answer to this request too
    const QDateTime now = m_environment.now();
    if (!m_schedule.mayRequest(now)) {
        qCDebug(lcPlan) << "rate-limited until" << m_schedule.blockedUntil().value_or(QDateTime())
                        << "; nothing sent";
        return QtFuture::makeReadyFuture();
    }
    if (trigger == FetchTrigger::manual && m_lastFetchStartedAt
        && now < m_lastFetchStartedAt->addSecs(manualFetchSpacing.count())) {
        qCDebug(lcPlan) << "a fetch started less than" << manualFetchSpacing.count() << "s ago; its outcome stands";
        return QtFuture::makeReadyFuture();
    }
    return startFetch();
}

QFuture<void> PlanUsageFetcher::startFetch()
{
    Q_ASSERT(!isRunning());
    const QDateTime now = m_environment.now();
    m_schedule.started(now);
    m_lastFetchStartedAt = now;
    QPromise<void> promise;
    m_running = promise.future();
    promise.start();
    std::stop_source stop;
    // Each change is one queued call to the main thread, dropped if the fetcher is gone (Qt
    // drops queued calls whose context object was deleted).
    auto publish = [gate = m_gate](PlanFetchUpdate update) {
        const std::lock_guard lock(gate->mutex);
        if (PlanUsageFetcher *fetcher = gate->fetcher)
            QMetaObject::invokeMethod(fetcher, [fetcher, update] { fetcher->apply(update); }, Qt::QueuedConnection);
    };
    QThread *thread = QThread::create(
        [environment = m_environment, token = stop.get_token(), publish, promise = std::move(promise)]() mutable {
            PlanFetchTask(environment, token, publish).fetchUsage();
            promise.finish();
        });
    // Not a child: a thread left running at destruction must not be deleted with the fetcher.
    m_fetches.insert(thread, stop);
    connect(thread, &QThread::finished, this, [this, thread] { m_fetches.remove(thread); });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    return m_running;
}

void PlanUsageFetcher::apply(const PlanFetchUpdate &update)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const QDateTime now = m_environment.now();
    if (update.planUsage) {
        m_schedule.succeeded(now);
        setPlanUsage(update.planUsage);
    }
    if (update.isFetching)
        setIsFetching(*update.isFetching);
    if (update.failure) {
        std::optional<PlanFailure> failure = *update.failure;
        if (failure && !update.planUsage) {
            const bool rateLimited = failure->reason == PlanFailureReason::rateLimited;
            Q_ASSERT(!rateLimited || failure->retryAt);
            m_schedule.failed(now, rateLimited ? failure->retryAt : std::nullopt);
        }
        if (failure && failure->reason != PlanFailureReason::rateLimited)
            failure->retryAt = m_schedule.nextFetchAt();
        if (failure)
            warnOnce(*failure);
        setLastFailure(failure);
    }
}

// The first unexpected failure of each kind is worth a line; repeats every few minutes are not.
void PlanUsageFetcher::warnOnce(const PlanFailure &failure)
{
    if (isExpected(failure.reason) || !m_warnedReasons.insert(failure.reason).second)
        return;
    if (failure.reason == PlanFailureReason::credentialsUnreadable || failure.reason == PlanFailureReason::keychainDenied)
        qCWarning(lcPlan).noquote() << "cannot read the Claude Code login in" << credentialLocation() << ":"
                                    << failure.detail;
    else
        qCWarning(lcPlan).noquote() << "plan fetch failed:" << failure.code();
}

void PlanUsageFetcher::watchCredentials()
{
    const QStringList paths = m_environment.credentials ? m_environment.credentials->watchedPaths() : QStringList();
    if (paths.isEmpty())
        return;
    for (const QString &path : paths) {
        if (QFileInfo::exists(path) && !m_credentialWatch.files().contains(path)
            && !m_credentialWatch.directories().contains(path))
            m_credentialWatch.addPath(path);
    }
    m_credentialStatus = fileStatus(paths.constFirst());
}

// The file changed, or an entry of its folder did. Only a change of the file itself counts,
// and only while a new login is what the plan waits for; any later fetch reads the store anew.
void PlanUsageFetcher::onCredentialsTouched()
{
    const std::optional<FileStatus> before = m_credentialStatus;
    watchCredentials(); // a replaced file is no longer watched
    if (m_credentialStatus == before)
        return;
    qCDebug(lcPlan) << "the stored login changed";
    if (m_lastFailure && awaitsLogin(m_lastFailure->reason))
        m_credentialSettleTimer.start();
}

void PlanUsageFetcher::setPlanUsage(const std::optional<PlanUsage> &usage)
{
    m_planUsage = usage;
    emit planUsageChanged();
}

void PlanUsageFetcher::setIsFetching(bool fetching)
{
    m_isFetching = fetching;
    emit isFetchingChanged();
}

void PlanUsageFetcher::setLastFailure(const std::optional<PlanFailure> &failure)
{
    m_lastFailure = failure;
    m_lastError = failure ? std::optional(failure->code()) : std::nullopt;
    emit lastErrorChanged();
}

QString PlanUsageFetcher::credentialLocation() const
{
    return m_environment.credentials ? m_environment.credentials->location() : QString();
}
