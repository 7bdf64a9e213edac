#pragma once

#include "planusagefetcher.h"

#include <QJsonObject>
#include <QNetworkAccessManager>

#include <functional>
#include <optional>
#include <stop_token>

// One change of the fetcher's published state, applied on the main thread as one block.
struct PlanFetchUpdate
{
    std::optional<PlanUsage> planUsage;              // assigned first when present
    std::optional<bool> isFetching;                  // then this
    std::optional<std::optional<QString>> lastError; // then this (an absent error clears it)

    static PlanFetchUpdate fetching(bool isFetching)
    {
        PlanFetchUpdate update;
        update.isFetching = isFetching;
        return update;
    }
    static PlanFetchUpdate error(std::optional<QString> lastError)
    {
        PlanFetchUpdate update;
        update.lastError = std::move(lastError);
        return update;
    }
    // A received report: the usage, then the error cleared.
    static PlanFetchUpdate report(PlanUsage usage)
    {
        PlanFetchUpdate update;
        update.planUsage = std::move(usage);
        update.lastError = std::optional<QString>();
        return update;
    }
};

// One fetch, run start to finish on its own worker thread: reads the borrowed token, renews it
// when needed, requests the report with retries and hands each published change to `publish`.
// It owns a network manager living on that thread and touches nothing shared in memory.
class PlanFetchTask
{
public:
    static constexpr char clientID[] = "7c3e9a41-2b8d-4f6e-a1c5-0d9e8f7a6b54";
    static constexpr char betaHeader[] = "oauth-2025-04-20";
    static constexpr int attempts = 6;
    static constexpr int timeoutMs = 15000;
    // A reply body beyond this is not read further and counts as unreadable.
    static constexpr qsizetype maxBodySize = 8 * 1024 * 1024;

    PlanFetchTask(PlanFetcherEnvironment environment, std::stop_token stop,
                  std::function<void(PlanFetchUpdate)> publish);

    void fetchUsage();

    // The real wait: blocks this thread for `duration`, or until `stop` is triggered.
    static void sleepFor(std::chrono::milliseconds duration, std::stop_token stop);

    std::optional<QJsonObject> readCredentials() const;
    std::optional<QString> readToken() const;
    bool isTokenExpired() const;
    void storeRenewedTokens(const QString &accessToken, const QString &refreshToken, double expiresAt);
    std::optional<QString> refreshAccessToken();

private:
    struct Reply
    {
        std::optional<int> status; // absent when no HTTP response arrived
        QByteArray body;
        QString error;             // the platform's text for a transport failure
    };
    Reply send(QNetworkRequest request, const QByteArray &postBody = {}, bool post = false);

    PlanFetcherEnvironment m_environment;
    std::stop_token m_stop;
    std::function<void(PlanFetchUpdate)> m_publish;
    QNetworkAccessManager m_network;
};
