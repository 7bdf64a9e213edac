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
    // A received report, then the error cleared.
    static PlanFetchUpdate report(PlanUsage usage)
    {
        PlanFetchUpdate update;
        update.planUsage = std::move(usage);
        update.failure = std::optional<PlanFailure>();
        return update;
    }
};

// One fetch, run start to finish on its own worker thread: reads Claude Code's login (never
// changing it), requests the report with retries and hands each published change to
// `publish`. Each request gets a network manager of its own, so every attempt opens a fresh
// connection; nothing shared in memory is touched.
class PlanFetchTask
{
public:
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
    // The stored access token, and the failure that keeps it from being sent, if any. An
    // expired token is kept beside its failure, so a re-read can tell it from the one in use.
    struct Login
    {
        QString accessToken;
        std::optional<PlanFailure> failure;
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

    Login readLogin() const;
    std::optional<PlanFailure> requestReport(QString token);
    Reply send(QNetworkRequest request);

    PlanFetcherEnvironment m_environment;
    std::stop_token m_stop;
    std::function<void(PlanFetchUpdate)> m_publish;
    QDeadlineTimer m_deadline;
};
