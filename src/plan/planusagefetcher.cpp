#include "planusagefetcher.h"

#include "claudedatadir.h"
#include "planfetchtask.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QPromise>
#include <QThread>

PlanFetcherEnvironment PlanFetcherEnvironment::system()
{
    PlanFetcherEnvironment environment;
    environment.usageURL = QUrl(QStringLiteral("https://api.anthropic.com/api/oauth/usage"));
    environment.tokenURL = QUrl(QStringLiteral("https://console.anthropic.com/v1/oauth/token"));
    environment.credentials = systemCredentialStore(claudeDataDirectory());
    environment.now = [] { return QDateTime::currentDateTimeUtc(); };
    environment.sleep = &PlanFetchTask::sleepFor;
    return environment;
}

PlanUsageFetcher::PlanUsageFetcher(QObject *parent) : PlanUsageFetcher(PlanFetcherEnvironment::system(), parent) { }

PlanUsageFetcher::PlanUsageFetcher(PlanFetcherEnvironment environment, QObject *parent)
    : QObject(parent), m_environment(std::move(environment))
{
    // The tick changes nothing; it only lets countdowns computed from the clock advance.
    m_tickTimer.setInterval(1000);
    connect(&m_tickTimer, &QTimer::timeout, this, &PlanUsageFetcher::ticked);
    m_tickTimer.start();
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

QFuture<void> PlanUsageFetcher::fetchUsage()
{
    QPromise<void> promise;
    QFuture<void> future = promise.future();
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
    return future;
}

void PlanUsageFetcher::apply(const PlanFetchUpdate &update)
{
    if (update.planUsage)
        setPlanUsage(update.planUsage);
    if (update.isFetching)
        setIsFetching(*update.isFetching);
    if (update.lastError)
        setLastError(*update.lastError);
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

void PlanUsageFetcher::setLastError(const std::optional<QString> &error)
{
    m_lastError = error;
    // Until the fetch reports reasons, a failure is only its code.
    m_lastFailure = error ? std::optional(PlanFailure{PlanFailureReason::transport, 0, *error, {}}) : std::nullopt;
    emit lastErrorChanged();
}

QString PlanUsageFetcher::credentialLocation() const
{
    return m_environment.credentials ? m_environment.credentials->location() : QString();
}
