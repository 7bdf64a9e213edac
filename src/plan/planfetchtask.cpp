#include "planfetchtask.h"

#include "credentialdocument.h"
#include "planlog.h"
#include "planrules.h"

#include <QEventLoop>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace {

constexpr char userAgent[] = "Glimmerox/" GLIMMEROX_VERSION;

// Deletes a reply on the thread that owns it, after its signals are done.
struct LaterDeleter
{
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

PlanFailure failureOf(PlanFailureReason reason, QString detail = {})
{
    return PlanFailure{reason, 0, std::move(detail), {}};
}

} // namespace

PlanFetchTask::PlanFetchTask(PlanFetcherEnvironment environment, std::stop_token stop,
                             std::function<void(PlanFetchUpdate)> publish)
    : m_environment(std::move(environment)), m_stop(std::move(stop)), m_publish(std::move(publish))
{
    // The fetcher fills in the clock and the wait where its environment left them empty.
    Q_ASSERT(m_environment.now && m_environment.sleep);
    Q_ASSERT(m_publish);
}

void PlanFetchTask::sleepFor(std::chrono::milliseconds duration, std::stop_token stop)
{
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop, duration, [] { return false; });
}

PlanFetchTask::Login PlanFetchTask::readLogin() const
{
    if (!m_environment.credentials)
        return {{}, failureOf(PlanFailureReason::noToken)};
    const CredentialRead read = m_environment.credentials->read();
    switch (read.outcome) {
    case CredentialRead::Outcome::missing:
        return {{}, failureOf(PlanFailureReason::noToken)};
    case CredentialRead::Outcome::denied:
        return {{}, failureOf(PlanFailureReason::keychainDenied, read.error)};
    case CredentialRead::Outcome::failed:
        return {{}, failureOf(PlanFailureReason::credentialsUnreadable, read.error)};
    case CredentialRead::Outcome::found:
        break;
    }
    const std::optional<QJsonObject> set = CredentialDocument::tokenSet(read.document);
    const QString access = set ? set->value(QLatin1String("accessToken")).toString() : QString();
    if (!PlanRules::isValidToken(access))
        return {{}, failureOf(PlanFailureReason::noToken)};
    // Claude Code renews its own login when it next runs; an expired token is never sent. A
    // token without a readable expiry is sent, and the service's answer decides.
    const QJsonValue expiresAt = set->value(QLatin1String("expiresAt"));
    const double now = static_cast<double>(m_environment.now().toMSecsSinceEpoch());
    if (expiresAt.isDouble() && expiresAt.toDouble() <= now)
        return {access, failureOf(PlanFailureReason::tokenExpired)};
    return {access, std::nullopt};
}

void PlanFetchTask::fetchUsage()
{
    m_deadline = QDeadlineTimer(fetchDeadline);
    const Login login = readLogin();
    if (login.failure) {
        qCDebug(lcPlan) << "no login to send from"
                        << (m_environment.credentials ? m_environment.credentials->location() : QString()) << ":"
                        << login.failure->code();
        m_publish(PlanFetchUpdate::failed(*login.failure));
        return;
    }
    m_publish(PlanFetchUpdate::fetching(true));
    if (std::optional<PlanFailure> failure = requestReport(login.accessToken);
        failure && !m_stop.stop_requested())
        m_publish(PlanFetchUpdate::failed(std::move(*failure)));
    m_publish(PlanFetchUpdate::fetching(false));
}

// The attempts of one fetch. Returns the failure to publish, or absent once a report has been
// published or the fetch was stopped.
std::optional<PlanFailure> PlanFetchTask::requestReport(QString token)
{
    std::chrono::milliseconds delay(1000);
    int failedAttempts = 0;
    bool reread = false; // the store is read once more after a 401, once per fetch
    for (;;) {
        if (m_stop.stop_requested())
            return std::nullopt;
        if (m_deadline.hasExpired())
            return failureOf(PlanFailureReason::timedOut);
        Q_ASSERT(PlanRules::isValidToken(token));
        QNetworkRequest request(m_environment.usageURL);
        request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
        request.setRawHeader("Accept", "application/json");
        request.setRawHeader("Content-Type", "application/json");
        request.setRawHeader("anthropic-beta", betaHeader);
        const Reply reply = send(request);
        if (m_stop.stop_requested())
            return std::nullopt;

        PlanFailure failure = failureOf(PlanFailureReason::transport);
        if (reply.timedOut) {
            failure = failureOf(PlanFailureReason::timedOut);
        } else if (!reply.status) {
            failure.detail = reply.error;
        } else if (*reply.status == 429) {
            // Ends the fetch at once: the service said stop.
            const std::chrono::seconds wait = PlanRules::retryAfter(reply.retryAfter, m_environment.now());
            qCDebug(lcPlan) << "usage endpoint rate-limited; nothing is sent for" << wait.count() << "s";
            failure = failureOf(PlanFailureReason::rateLimited);
            failure.retryAt = m_environment.now().addSecs(wait.count());
            return failure;
        } else if (*reply.status == 401) {
            // Only a login Claude Code has renewed meanwhile can help; retrying the same cannot.
            const PlanFailure rejected{PlanFailureReason::httpStatus, 401, {}, {}};
            if (std::exchange(reread, true))
                return rejected;
            const Login again = readLogin();
            if (again.accessToken.isEmpty() || again.accessToken == token)
                return rejected;
            if (again.failure)
                return again.failure; // another token, but expired too
            qCDebug(lcPlan) << "token rejected; trying the one Claude Code stored since";
            token = again.accessToken;
            continue; // no wait, and no attempt spent
        } else if (*reply.status == 200) {
            if (std::optional<PlanUsage> usage = PlanUsageFetcher::parse(reply.body, m_environment.now())) {
                m_publish(PlanFetchUpdate::report(*usage));
                return std::nullopt;
            }
            failure = failureOf(PlanFailureReason::badReply);
        } else {
            failure = PlanFailure{PlanFailureReason::httpStatus, *reply.status, {}, {}};
        }
        qCDebug(lcPlan) << "usage attempt" << failedAttempts + 1 << "failed:" << failure.code();
        if (++failedAttempts == attempts)
            return failure;
        m_environment.sleep(std::min(delay, std::chrono::milliseconds(m_deadline.remainingTime())), m_stop);
        delay *= 2;
    }
}

// One request, waited for in a local event loop on a network manager of its own. Redirects
// are never followed (the token must not reach another host), so a 3xx is just its status.
PlanFetchTask::Reply PlanFetchTask::send(QNetworkRequest request)
{
    QNetworkAccessManager network;
    network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(userAgent));
    const std::unique_ptr<QNetworkReply, LaterDeleter> reply(network.get(request));
    reply->setReadBufferSize(256 * 1024);
    Reply result;
    QEventLoop loop;
    const auto refuse = [&] {
        if (!result.oversized)
            qCDebug(lcPlan) << "reply body refused: larger than" << maxBodySize << "bytes";
        result.oversized = true;
        result.body.clear();
        reply->abort();
    };
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > maxBodySize)
            refuse();
    });
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
        if (received > maxBodySize)
            refuse();
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (result.oversized)
            return;
        result.body += reply->readAll();
        if (result.body.size() > maxBodySize)
            refuse();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The whole request has one deadline, however slowly its bytes arrive.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        result.timedOut = true;
        reply->abort();
    });
    deadline.start(std::clamp(std::chrono::milliseconds(m_deadline.remainingTime()), std::chrono::milliseconds(0),
                              attemptDeadline));
    {
        // Stopping aborts the request from whichever thread stops; the abort itself runs here.
        QPointer<QNetworkReply> target(reply.get());
        const std::stop_callback abortOnStop(m_stop, [&loop, target] {
            QMetaObject::invokeMethod(&loop, [target] {
                if (target)
                    target->abort();
            }, Qt::QueuedConnection);
        });
        if (!reply->isFinished())
            loop.exec();
    }
    if (!result.oversized && reply->isOpen())
        result.body += reply->readAll();

    // A connection that broke after the headers (cut off, timed out, reset) failed like one
    // that never answered: its status is there, but its body cannot be trusted. (Qt reports
    // an HTTP 400 as ProtocolInvalidOperationError; that one is a status like any other.)
    const QNetworkReply::NetworkError error = reply->error();
    const bool transportFailed = !result.oversized
        && ((error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
            || error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && !transportFailed && !result.timedOut) {
        result.status = status.toInt();
        result.retryAfter = reply->rawHeader("Retry-After");
    } else {
        result.body.clear();
        result.error = reply->errorString();
    }
    return result;
}
