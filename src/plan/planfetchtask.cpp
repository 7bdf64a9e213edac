#include "planfetchtask.h"

#include "credentialdocument.h"
#include "logging.h"
#include "planrules.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

constexpr char userAgent[] = "Glimmerox/" GLIMMEROX_VERSION;
constexpr qint64 expiryMarginMs = 60000;

// Deletes a reply on the thread that owns it, after its signals are done.
struct LaterDeleter
{
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

// One renewal in flight per process: two would redeem the same single-use refresh token.
std::mutex &renewalLock()
{
    static std::mutex lock;
    return lock;
}

PlanFailure failureOf(PlanFailureReason reason) { return PlanFailure{reason, 0, {}, {}}; }

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

// The stored token set; absent unless its access token is one that may be sent.
std::optional<PlanFetchTask::TokenSet> PlanFetchTask::readTokenSet() const
{
    if (!m_environment.credentials)
        return std::nullopt;
    const std::optional<QByteArray> bytes = m_environment.credentials->read();
    const std::optional<QJsonObject> set = bytes ? CredentialDocument::tokenSet(*bytes) : std::nullopt;
    if (!set)
        return std::nullopt;
    const QString access = set->value(QLatin1String("accessToken")).toString();
    if (!PlanRules::isValidToken(access))
        return std::nullopt;
    TokenSet tokens{access, set->value(QLatin1String("refreshToken")).toString(), std::nullopt};
    if (!PlanRules::isValidToken(tokens.refreshToken))
        tokens.refreshToken.clear();
    const QJsonValue expiresAt = set->value(QLatin1String("expiresAt"));
    if (expiresAt.isDouble())
        tokens.expiresAt = expiresAt.toDouble();
    return tokens;
}

// Counts as expired from one minute before the stored expiry, and whenever that is unreadable.
bool PlanFetchTask::isExpired(const TokenSet &tokens) const
{
    const double now = static_cast<double>(m_environment.now().toMSecsSinceEpoch());
    return !tokens.expiresAt || *tokens.expiresAt - expiryMarginMs <= now;
}

void PlanFetchTask::fetchUsage()
{
    m_deadline = QDeadlineTimer(fetchDeadline);
    const std::optional<TokenSet> stored = readTokenSet();
    if (!stored) {
        qCDebug(lcPlan) << "no usable login in" << (m_environment.credentials ? m_environment.credentials->location()
                                                                              : QString());
        m_publish(PlanFetchUpdate::failed(failureOf(PlanFailureReason::noToken)));
        return;
    }
    m_publish(PlanFetchUpdate::fetching(true));
    if (std::optional<PlanFailure> failure = requestReport(stored->accessToken, isExpired(*stored));
        failure && !m_stop.stop_requested())
        m_publish(PlanFetchUpdate::failed(std::move(*failure)));
    m_publish(PlanFetchUpdate::fetching(false));
}

// The attempts of one fetch. Returns the failure to publish, or absent once a report has been
// published or the fetch was stopped.
std::optional<PlanFailure> PlanFetchTask::requestReport(QString token, bool expired)
{
    if (expired) {
        const Renewal renewal = renew(token);
        if (!renewal.accessToken)
            return failureOf(renewal.failure);
        token = *renewal.accessToken;
    }
    std::chrono::milliseconds delay(1000);
    for (int attempt = 0; attempt < attempts; ++attempt) {
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
            failure.transportText = reply.error;
        } else if (*reply.status == 429) {
            // Ends the fetch at once: the service said stop.
            const std::chrono::seconds wait = PlanRules::retryAfter(reply.retryAfter, m_environment.now());
            qCDebug(lcPlan) << "usage endpoint rate-limited; nothing is sent for" << wait.count() << "s";
            failure = failureOf(PlanFailureReason::rateLimited);
            failure.retryAt = m_environment.now().addSecs(wait.count());
            return failure;
        } else if (*reply.status == 401 && (m_renewalUsed || attempt == attempts - 1)) {
            failure = PlanFailure{PlanFailureReason::httpStatus, 401, {}, {}};
            if (m_renewalUsed)
                return failure; // a renewed token rejected again: another renewal would not help
        } else if (*reply.status == 401) {
            const Renewal renewal = renew(token);
            if (!renewal.accessToken)
                return failureOf(renewal.failure);
            token = *renewal.accessToken;
            continue; // cured by renewal: no wait, same delay
        } else if (*reply.status == 200) {
            if (std::optional<PlanUsage> usage = PlanUsageFetcher::parse(reply.body)) {
                usage->fetchedAt = m_environment.now();
                m_publish(PlanFetchUpdate::report(
                    *usage, m_tokenNotSaved ? std::optional(failureOf(PlanFailureReason::tokenNotSaved))
                                            : std::nullopt));
                return std::nullopt;
            }
            failure = failureOf(PlanFailureReason::badReply);
        } else {
            failure = PlanFailure{PlanFailureReason::httpStatus, *reply.status, {}, {}};
        }
        qCDebug(lcPlan) << "usage attempt" << attempt + 1 << "failed:" << failure.code();
        if (attempt == attempts - 1)
            return failure;
        m_environment.sleep(std::min(delay, std::chrono::milliseconds(m_deadline.remainingTime())), m_stop);
        delay *= 2;
    }
    Q_UNREACHABLE();
    return std::nullopt;
}

// Renews the borrowed login at most once per fetch, and only when that cannot cost Claude Code
// its login: not while it runs, not when it already renewed, not when the result cannot be saved.
PlanFetchTask::Renewal PlanFetchTask::renew(const QString &tokenInUse)
{
    Q_ASSERT(!m_renewalUsed);
    m_renewalUsed = true;
    const std::lock_guard lock(renewalLock());
    const std::optional<TokenSet> stored = readTokenSet();
    if (!stored)
        return {};
    if (stored->accessToken != tokenInUse && !isExpired(*stored)) {
        qCDebug(lcPlan) << "the stored login was renewed meanwhile; using it";
        return {stored->accessToken};
    }
    if (m_environment.isClaudeCodeRunning && m_environment.isClaudeCodeRunning()) {
        qCDebug(lcPlan) << "login expired while Claude Code runs; it renews its own";
        return {std::nullopt, PlanFailureReason::tokenExpired};
    }
    if (!m_environment.credentials->canReplace()) {
        qCDebug(lcPlan) << "not renewing: the renewed login could not be saved in"
                        << m_environment.credentials->location();
        return {};
    }
    if (stored->refreshToken.isEmpty())
        return {};
    QString redeemed = stored->refreshToken;
    Exchange result = exchange(redeemed);
    if (result.invalidGrant) {
        // Someone redeemed it first; if that left a newer token set, use it or retry once with it.
        if (const std::optional<TokenSet> again = readTokenSet()) {
            if (again->accessToken != tokenInUse && !isExpired(*again))
                return {again->accessToken};
            if (!again->refreshToken.isEmpty() && again->refreshToken != redeemed) {
                redeemed = again->refreshToken;
                result = exchange(redeemed);
            }
        }
    }
    if (!result.tokens)
        return {};
    if (!storeRenewedTokens(redeemed, *result.tokens)) {
        qCDebug(lcPlan) << "renewed login not saved in" << m_environment.credentials->location();
        m_tokenNotSaved = true;
    }
    return {result.tokens->accessToken};
}

PlanFetchTask::Exchange PlanFetchTask::exchange(const QString &refreshToken)
{
    Q_ASSERT(PlanRules::isValidToken(refreshToken));
    const QJsonObject grant{
        {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
        {QStringLiteral("client_id"), QLatin1String(clientID)},
        {QStringLiteral("refresh_token"), refreshToken},
    };
    QNetworkRequest request(m_environment.tokenURL);
    request.setRawHeader("Content-Type", "application/json");
    const Reply reply = send(request, QJsonDocument(grant).toJson(QJsonDocument::Compact), true);
    const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
    Exchange result;
    if (reply.status != 200) {
        result.invalidGrant =
            reply.status == 400 && answer.value(QLatin1String("error")).toString() == QLatin1String("invalid_grant");
        qCDebug(lcPlan) << "renewal refused:" << reply.status.value_or(0) << (result.invalidGrant ? "invalid_grant" : "");
        return result;
    }
    const QString accessToken = answer.value(QLatin1String("access_token")).toString();
    const QJsonValue expiresIn = answer.value(QLatin1String("expires_in"));
    // Without a new refresh token the redeemed one stays in use; one that is there must be usable.
    const QJsonValue renewedRefresh = answer.value(QLatin1String("refresh_token"));
    const QString nextRefresh = renewedRefresh.isUndefined() ? refreshToken : renewedRefresh.toString();
    if (!PlanRules::isValidToken(accessToken) || !PlanRules::isValidToken(nextRefresh) || !expiresIn.isDouble()
        || !PlanRules::isAcceptedLifetime(expiresIn.toDouble())) {
        qCDebug(lcPlan) << "renewal reply unusable";
        return result;
    }
    const double expiresAt =
        static_cast<double>(m_environment.now().toMSecsSinceEpoch()) + expiresIn.toDouble() * 1000;
    result.tokens = TokenSet{accessToken, nextRefresh, expiresAt};
    return result;
}

// Compare-and-swap: the renewed set replaces the stored one only while that still holds the
// refresh token just redeemed; otherwise Claude Code wrote a newer set, which is left alone.
// Returns false only when a write was due and failed.
bool PlanFetchTask::storeRenewedTokens(const QString &redeemedRefreshToken, const TokenSet &renewed)
{
    Q_ASSERT(renewed.expiresAt);
    const std::optional<QByteArray> bytes = m_environment.credentials->read();
    const std::optional<QJsonObject> set = bytes ? CredentialDocument::tokenSet(*bytes) : std::nullopt;
    if (!set)
        return false;
    if (set->value(QLatin1String("refreshToken")).toString() != redeemedRefreshToken) {
        qCDebug(lcPlan) << "the stored login changed during the renewal; left as it is";
        return true;
    }
    const std::optional<QByteArray> updated = CredentialDocument::withRenewedTokens(
        *bytes, renewed.accessToken, renewed.refreshToken, *renewed.expiresAt);
    return updated && m_environment.credentials->replace(*updated);
}

// One request, waited for in a local event loop on a network manager of its own. Redirects
// are never followed (the token must not reach another host), so a 3xx is just its status.
PlanFetchTask::Reply PlanFetchTask::send(QNetworkRequest request, const QByteArray &postBody, bool post)
{
    QNetworkAccessManager network;
    network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(userAgent));
    const std::unique_ptr<QNetworkReply, LaterDeleter> reply(post ? network.post(request, postBody)
                                                                   : network.get(request));
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
