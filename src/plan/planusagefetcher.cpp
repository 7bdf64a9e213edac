#include "planusagefetcher.h"

#include "claudedatadir.h"
#include "logging.h"
#include "planfetchtask.h"
#include "planrules.h"

#include <QCoreApplication>
#include <QPointer>
#include <QPromise>
#include <QThread>

#include <cstdio>

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

} // namespace

PlanFetcherEnvironment PlanFetcherEnvironment::system()
{
    PlanFetcherEnvironment environment;
    environment.usageURL = endpointFromEnvironment(
        "GLIMMEROX_USAGE_URL", QUrl(QStringLiteral("https://api.anthropic.com/api/oauth/usage")));
    environment.tokenURL = endpointFromEnvironment(
        "GLIMMEROX_TOKEN_URL", QUrl(QStringLiteral("https://console.anthropic.com/v1/oauth/token")));
    environment.credentials = systemCredentialStore(claudeDataDirectory());
    environment.now = [] { return QDateTime::currentDateTimeUtc(); };
    environment.sleep = &PlanFetchTask::sleepFor;
    return environment;
}

PlanUsageFetcher::PlanUsageFetcher(QObject *parent) : PlanUsageFetcher(PlanFetcherEnvironment::system(), parent) { }

PlanUsageFetcher::PlanUsageFetcher(PlanFetcherEnvironment environment, QObject *parent)
    : QObject(parent),
      m_environment(std::move(environment)),
      m_schedule(m_environment.now ? m_environment.now() : QDateTime::currentDateTimeUtc())
{
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
    // The fetch at launch, once the caller has connected to the signals.
    QMetaObject::invokeMethod(this, &PlanUsageFetcher::onTick, Qt::QueuedConnection);
    // A fetch waiting out its retries must not keep the application from quitting.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &PlanUsageFetcher::stopFetches);
}

// Running fetches are stopped (waits cut short, requests aborted) and waited for, so none
// outlives the fetcher; their remaining changes are dropped.
PlanUsageFetcher::~PlanUsageFetcher()
{
    stopFetches();
    for (QThread *thread : m_fetches.keys())
        thread->wait();
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
    if (m_serviceEnabled && !isRunning() && m_schedule.isDue(now))
        startFetch();
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
    Q_ASSERT(QThread::currentThread() == thread());
    if (!m_serviceEnabled)
        return QtFuture::makeReadyFuture();
    if (isRunning())
        return m_running; // its outcome is the answer to this press too
    if (!m_schedule.mayRequest(m_environment.now())) {
        qCDebug(lcPlan) << "rate-limited until" << m_schedule.blockedUntil().value_or(QDateTime())
                        << "; nothing sent";
        return QtFuture::makeReadyFuture();
    }
    return startFetch();
}

QFuture<void> PlanUsageFetcher::startFetch()
{
    Q_ASSERT(!isRunning());
    m_schedule.started(m_environment.now());
    QPromise<void> promise;
    m_running = promise.future();
    promise.start();
    std::stop_source stop;
    // Each change is one queued call to the main thread, dropped if the fetcher is gone.
    auto publish = [target = QPointer(this)](PlanFetchUpdate update) {
        QMetaObject::invokeMethod(target.data(), [target, update] {
            if (target)
                target->apply(update);
        }, Qt::QueuedConnection);
    };
    QThread *thread = QThread::create(
        [environment = m_environment, token = stop.get_token(), publish, promise = std::move(promise)]() mutable {
            PlanFetchTask(environment, token, publish).fetchUsage();
            promise.finish();
        });
    thread->setParent(this);
    m_fetches.insert(thread, stop);
    connect(thread, &QThread::finished, this, [this, thread] {
        m_fetches.remove(thread);
        thread->deleteLater();
    });
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
        setLastFailure(failure);
    }
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
