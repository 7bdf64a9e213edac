#pragma once

#include "planusagefetcher.h"

#include <QDeadlineTimer>
#include <QNetworkRequest>

#include <functional>
#include <optional>
#include <stop_token>

// One change of the fetcher's published state, applied on the main thread as one block.
struct PlanFetchUpdate
{
    std::optional<PlanUsage> planUsage;                // assigned first when present
    std::optional<bool> isFetching;                    // then this
    std::optional<std::optional<PlanFailure>> failure; // then this (an absent failure clears it)

    static PlanFetchUpdate fetching(bool isFetching)
    {
        PlanFetchUpdate update;
        update.isFetching = isFetching;
        return update;
    }
    static PlanFetchUpdate failed(PlanFailure failure)
    {
        PlanFetchUpdate update;
        update.failure = std::optional(std::move(failure));
        return update;
    }
    // A received report, then the error cleared, or set to a note such as "TOKEN NOT SAVED".
    static PlanFetchUpdate report(PlanUsage usage, std::optional<PlanFailure> note)
    {
        PlanFetchUpdate update;
        update.planUsage = std::move(usage);
        update.failure = std::move(note);
        return update;
    }
};

// One fetch, run start to finish on its own worker thread: reads the borrowed token, renews it
// when it must and may, requests the report with retries and hands each published change to
// `publish`. Each request gets a network manager of its own, so every attempt opens a fresh
// connection; nothing shared in memory is touched.
class PlanFetchTask
{
public:
    static constexpr char clientID[] = "7c3e9a41-2b8d-4f6e-a1c5-0d9e8f7a6b54";
    static constexpr char betaHeader[] = "oauth-2025-04-20";
    static constexpr int attempts = 6;
    // Each request as a whole, not per byte, and the whole fetch with its waits.
    static constexpr std::chrono::milliseconds attemptDeadline{15000};
    static constexpr std::chrono::milliseconds fetchDeadline{180000};
    // A reply body beyond this is refused while it arrives.
    static constexpr qsizetype maxBodySize = 8 * 1024 * 1024;

    PlanFetchTask(PlanFetcherEnvironment environment, std::stop_token stop,
                  std::function<void(PlanFetchUpdate)> publish);
    Q_DISABLE_COPY_MOVE(PlanFetchTask)

    void fetchUsage();

    // The real wait: blocks this thread for `duration`, or until `stop` is triggered.
    static void sleepFor(std::chrono::milliseconds duration, std::stop_token stop);

private:
    struct TokenSet
    {
        QString accessToken;
        QString refreshToken; // empty when missing or unusable
        std::optional<double> expiresAt;
    };
    struct Renewal
    {
        std::optional<QString> accessToken;
        PlanFailureReason failure = PlanFailureReason::tokenRefreshFailed;
    };
    struct Exchange
    {
        std::optional<TokenSet> tokens;
        bool invalidGrant = false;
    };
    struct Reply
    {
        std::optional<int> status; // absent when no whole HTTP response arrived
        QByteArray body;
        QByteArray retryAfter;
        QString error;             // the platform's text for a transport failure
        bool timedOut = false;
        bool oversized = false;
    };

    std::optional<PlanFailure> requestReport(QString token, bool expired);
    std::optional<TokenSet> readTokenSet() const;
    bool isExpired(const TokenSet &tokens) const;
    Renewal renew(const QString &tokenInUse);
    Exchange exchange(const QString &refreshToken);
    bool storeRenewedTokens(const QString &redeemedRefreshToken, const TokenSet &renewed);
    Reply send(QNetworkRequest request, const QByteArray &postBody = {}, bool post = false);

    PlanFetcherEnvironment m_environment;
    std::stop_token m_stop;
    std::function<void(PlanFetchUpdate)> m_publish;
    QDeadlineTimer m_deadline;
    bool m_renewalUsed = false; // one renewal per fetch
    bool m_tokenNotSaved = false;
};
