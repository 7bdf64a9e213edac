#include "planfetchtask.h"

#include "credentialdocument.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <memory>

namespace {

constexpr char userAgent[] = "Glimmerox/" GLIMMEROX_VERSION;

// Deletes a reply on the thread that owns it, after its signals are done.
struct LaterDeleter
{
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

} // namespace

PlanFetchTask::PlanFetchTask(PlanFetcherEnvironment environment, std::stop_token stop,
                             std::function<void(PlanFetchUpdate)> publish)
    : m_environment(std::move(environment)), m_stop(std::move(stop)), m_publish(std::move(publish))
{
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // An environment left partly empty falls back to the real clock and the real wait.
    if (!m_environment.now)
        m_environment.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_environment.sleep)
        m_environment.sleep = &PlanFetchTask::sleepFor;
}

void PlanFetchTask::sleepFor(std::chrono::milliseconds duration, std::stop_token stop)
{
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop, duration, [] { return false; });
}

std::optional<QJsonObject> PlanFetchTask::readCredentials() const
{
    if (!m_environment.credentials)
        return std::nullopt;
    const std::optional<QByteArray> bytes = m_environment.credentials->read();
    if (!bytes)
        return std::nullopt;
    return CredentialDocument::tokenSet(*bytes);
}

std::optional<QString> PlanFetchTask::readToken() const
{
    const std::optional<QJsonObject> credentials = readCredentials();
    if (!credentials)
        return std::nullopt;
    const QJsonValue token = credentials->value(QLatin1String("accessToken"));
    if (!token.isString())
        return std::nullopt;
    return token.toString();
}

// Counts as expired from one minute before the stored expiry, and whenever it cannot be read.
bool PlanFetchTask::isTokenExpired() const
{
    const std::optional<QJsonObject> credentials = readCredentials();
    if (!credentials)
        return true;
    const QJsonValue expiresAt = credentials->value(QLatin1String("expiresAt"));
    if (!expiresAt.isDouble())
        return true;
    const double now = static_cast<double>(m_environment.now().toMSecsSinceEpoch());
    return expiresAt.toDouble() - 60000 <= now;
}

// Rewrites the stored token set after a renewal; every failure is silent and writes nothing.
void PlanFetchTask::storeRenewedTokens(const QString &accessToken, const QString &refreshToken, double expiresAt)
{
    if (!m_environment.credentials)
        return;
    const std::optional<QByteArray> bytes = m_environment.credentials->read();
    if (!bytes)
        return;
    const std::optional<QByteArray> updated =
        CredentialDocument::withRenewedTokens(*bytes, accessToken, refreshToken, expiresAt);
    if (updated)
        m_environment.credentials->replace(*updated);
}

std::optional<QString> PlanFetchTask::refreshAccessToken()
{
    const std::optional<QJsonObject> credentials = readCredentials();
    if (!credentials)
        return std::nullopt;
    const QJsonValue storedRefresh = credentials->value(QLatin1String("refreshToken"));
    if (!storedRefresh.isString())
        return std::nullopt;
    const QString refreshToken = storedRefresh.toString();

    const QJsonObject grant{
        {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
        {QStringLiteral("client_id"), QLatin1String(clientID)},
        {QStringLiteral("refresh_token"), refreshToken},
    };
    QNetworkRequest request(m_environment.tokenURL);
    request.setRawHeader("Content-Type", "application/json");
    const Reply reply = send(request, QJsonDocument(grant).toJson(QJsonDocument::Compact), true);
    if (reply.status != 200)
        return std::nullopt;

    const QJsonDocument document = QJsonDocument::fromJson(reply.body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject answer = document.object();
    const QJsonValue accessToken = answer.value(QLatin1String("access_token"));
    if (!accessToken.isString())
        return std::nullopt;
    // A lifetime must be a whole number of seconds within the 64-bit range; 3600.5 and 1e300
    // are refused, so no absurd expiry is ever stored.
    const QJsonValue expiresIn = answer.value(QLatin1String("expires_in"));
    constexpr double integerLimit = 9223372036854775808.0; // 2^63
    if (!expiresIn.isDouble() || !(std::abs(expiresIn.toDouble()) < integerLimit)
        || std::trunc(expiresIn.toDouble()) != expiresIn.toDouble())
        return std::nullopt;
    const QJsonValue renewedRefresh = answer.value(QLatin1String("refresh_token"));
    const QString nextRefresh = renewedRefresh.isString() ? renewedRefresh.toString() : refreshToken;
    const double expiresAt =
        static_cast<double>(m_environment.now().toMSecsSinceEpoch()) + expiresIn.toDouble() * 1000;
    storeRenewedTokens(accessToken.toString(), nextRefresh, expiresAt);
    return accessToken.toString();
}

void PlanFetchTask::fetchUsage()
{
    std::optional<QString> token = readToken();
    if (!token) {
        m_publish(PlanFetchUpdate::error(QStringLiteral("NO TOKEN")));
        return;
    }
    m_publish(PlanFetchUpdate::fetching(true));
    const auto finish = [this](std::optional<std::optional<QString>> error = std::nullopt) {
        if (error)
            m_publish(PlanFetchUpdate::error(*error));
        m_publish(PlanFetchUpdate::fetching(false));
    };

    if (isTokenExpired()) {
        token = refreshAccessToken();
        if (!token)
            return finish(std::optional<QString>(QStringLiteral("TOKEN REFRESH FAILED")));
    }

    std::chrono::milliseconds delay(1000);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (m_stop.stop_requested())
            return finish();
        QNetworkRequest request(m_environment.usageURL);
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
        request.setRawHeader("Accept", "application/json");
        request.setRawHeader("Content-Type", "application/json");
        request.setRawHeader("anthropic-beta", betaHeader);
        const Reply reply = send(request);

        QString failure;
        if (!reply.status) {
            failure = reply.error;
        } else {
            if (*reply.status == 401 && attempt < attempts - 1) {
                if (std::optional<QString> renewed = refreshAccessToken()) {
                    token = std::move(renewed);
                    continue; // cured by renewal: no wait, same delay
                }
            }
            if (*reply.status == 200) {
                m_publish(PlanFetchUpdate::report(PlanUsageFetcher::parse(reply.body)));
                return finish();
            }
            failure = QStringLiteral("HTTP %1").arg(*reply.status);
        }
        if (attempt == attempts - 1)
            return finish(std::optional<QString>(failure));
        m_environment.sleep(delay, m_stop);
        delay *= 2;
    }
}

// One request on this thread's network manager, waited for in a local event loop. Redirects
// are never followed (the token must not reach another host), so a 3xx is just its status.
PlanFetchTask::Reply PlanFetchTask::send(QNetworkRequest request, const QByteArray &postBody, bool post)
{
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(userAgent));
    const std::unique_ptr<QNetworkReply, LaterDeleter> reply(post ? m_network.post(request, postBody)
                                                                   : m_network.get(request));
    QByteArray body;
    bool oversized = false;
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (oversized)
            return;
        body += reply->readAll();
        if (body.size() > maxBodySize) {
            oversized = true;
            body.clear();
            reply->abort();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
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
    if (!oversized && reply->isOpen())
        body += reply->readAll();

    // A connection that broke after the headers (cut off, timed out, reset) failed like one
    // that never answered: its status is there, but its body cannot be trusted.
    const QNetworkReply::NetworkError error = reply->error();
    const bool transportFailed = !oversized
        && ((error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
            || (error >= QNetworkReply::ProtocolUnknownError && error <= QNetworkReply::ProtocolFailure));

    Reply result;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && !transportFailed && !m_stop.stop_requested()) {
        result.status = status.toInt();
        result.body = body;
    } else {
        result.error = reply->errorString();
    }
    return result;
}
