#include "fakeservice.h"
#include "planusagefetcher.h"

#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <mutex>

using namespace Qt::StringLiterals;
using Script = QList<FakeService::Reply>;
using OptionalUsage = std::optional<PlanUsage>;

namespace {

constexpr qint64 nowMs = 1765000000000;
constexpr qint64 hour = 3600000;
const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC);
const QString usage = u"GET /api/oauth/usage"_s;
const QString token = u"POST /v1/oauth/token"_s;
const QByteArray reportBody =
    R"({"five_hour":{"utilization":42.5,"resets_at":"2025-12-06T10:00:00Z"},"seven_day":null})";
const PlanUsage report{42.5, QDateTime(QDate(2025, 12, 6), QTime(10, 0), Qt::UTC), {}, {}, {}, now};

// A stored token set expiring `ahead` ms after `now`, with members the program does not own.
QByteArray tokens(qint64 ahead, const QString &access = u"stored-access"_s, const QString &refresh = u"stored-refresh"_s)
{
    const QJsonObject set{{u"accessToken"_s, access}, {u"refreshToken"_s, refresh},
                          {u"expiresAt"_s, double(nowMs + ahead)}, {u"subscriptionType"_s, u"max"_s}};
    return QJsonDocument(QJsonObject{{u"claudeAiOauth"_s, set}, {u"mcpOAuth"_s, QJsonObject{{u"kept"_s, 1}}}})
        .toJson();
}
QJsonObject storedSet(const QByteArray &document)
{
    return QJsonDocument::fromJson(document).object().value(u"claudeAiOauth"_s).toObject();
}

FakeService::Reply ok(QByteArray body = reportBody) { return FakeService::Reply::json(std::move(body)); }
FakeService::Reply status(int code, QByteArray body = {}) { return FakeService::Reply::status(code, std::move(body)); }
const QByteArray renewal = R"({"access_token":"new-access","expires_in":3600,"refresh_token":"next"})";
FakeService::Reply renewed(QByteArray body = renewal) { return FakeService::Reply::json(std::move(body)); }
FakeService::Reply limited(QByteArray retryAfter) { return {429, {{"Retry-After", retryAfter}}, {}, false, 0}; }
const FakeService::Reply invalidGrant = status(400, R"({"error":"invalid_grant"})");
const QList<qint64> allWaits{1000, 2000, 4000, 8000, 16000};

// Claude Code's store as the fetch sees it: each read takes the next document of `reads` (the
// last one stays), a write becomes what later reads see. Read and written on the worker thread.
struct ScriptedStore final : CredentialStore
{
    mutable std::mutex mutex;
    mutable QList<QByteArray> reads;
    QList<QByteArray> written;
    bool canSave = true;
    bool saveFails = false;

    std::optional<QByteArray> read() const override
    {
        const std::lock_guard lock(mutex);
        return reads.isEmpty() ? std::nullopt : std::optional(reads.size() > 1 ? reads.takeFirst() : reads[0]);
    }
    bool replace(const QByteArray &bytes) override
    {
        const std::lock_guard lock(mutex);
        if (saveFails)
            return false;
        written.append(bytes);
        reads = {bytes};
        return true;
    }
    bool canReplace() const override { return canSave; }
    QString location() const override { return {}; }
};

// One scenario of the fetch cycle against the service stand-in.
struct Case
{
    QList<QByteArray> reads; // successive reads of the store; none: no login at all
    Script script;
    QStringList requests;
    QList<qint64> waits = {};
    QString error = {}; // the final lastError; empty: none
    OptionalUsage usage = {};
    QString written = {}; // refresh token of the stored set after the fetch; empty: never written
    qint64 retryAfterSeconds = -1; // for a 429
    bool claudeRunning = false;
    bool canSave = true;
    bool saveFails = false;
};

// The service stand-in, a controllable clock, the recorded waits and the store.
struct Rig
{
    FakeService service;
    std::shared_ptr<std::atomic<qint64>> clock = std::make_shared<std::atomic<qint64>>(nowMs);
    std::shared_ptr<std::mutex> waitMutex = std::make_shared<std::mutex>();
    std::shared_ptr<QList<qint64>> waits = std::make_shared<QList<qint64>>();
    std::shared_ptr<ScriptedStore> store = std::make_shared<ScriptedStore>();

    explicit Rig(QList<QByteArray> reads) { store->reads = std::move(reads); }
    PlanFetcherEnvironment environment(bool claudeRunning = false) const
    {
        PlanFetcherEnvironment environment;
        environment.usageURL = service.url(u"/api/oauth/usage"_s);
        environment.tokenURL = service.url(u"/v1/oauth/token"_s);
        environment.credentials = store;
        environment.now = [clock = clock] { return QDateTime::fromMSecsSinceEpoch(clock->load(), Qt::UTC); };
        environment.sleep = [mutex = waitMutex, waits = waits](std::chrono::milliseconds wait, std::stop_token) {
            const std::lock_guard lock(*mutex);
            waits->append(wait.count());
        };
        environment.isClaudeCodeRunning = [claudeRunning] { return claudeRunning; };
        environment.tickInterval = std::chrono::milliseconds(10);
        return environment;
    }
    QStringList requests() const
    {
        QStringList lines;
        for (const FakeService::Request &request : service.requests())
            lines << QString::fromLatin1(request.method + ' ' + request.path);
        return lines;
    }
};

// Waits for the fetch, then delivers the changes it queued.
bool finish(const QFuture<void> &future)
{
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, 60000))
        return false;
    QCoreApplication::sendPostedEvents();
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestPlanFetcher : public QObject
{
    Q_OBJECT

private slots:
    void fetchCycle_data()
    {
        QTest::addColumn<Case>("scenario");
        const QByteArray fresh = tokens(hour);
        const QByteArray expired = tokens(-hour);
        const QByteArray claude = tokens(hour, u"claude-access"_s, u"claude-refresh"_s);
        const QStringList six(6, usage);
        const QString failed = u"TOKEN REFRESH FAILED"_s;
        const QString limit = u"RATE LIMITED"_s;
        QTest::addRow("no login") << Case{{}, {}, {}, {}, u"NO TOKEN"_s};
        QTest::addRow("access token with a line break") << Case{{tokens(hour, u"a\r\nX: 1"_s)}, {}, {}, {}, u"NO TOKEN"_s};
        QTest::addRow("expiring in 61 s is used as it is") << Case{{tokens(61000)}, {ok()}, {usage}, {}, {}, report};
        QTest::addRow("expiring in 59 s is renewed first")
            << Case{{tokens(59000)}, {renewed(), ok()}, {token, usage}, {}, {}, report, u"next"_s};
        QTest::addRow("renewal refused") << Case{{expired}, {status(400)}, {token}, {}, failed};
        QTest::addRow("renewal reply with an empty refresh token")
            << Case{{expired}, {renewed(R"({"access_token":"a","expires_in":60,"refresh_token":""})")}, {token}, {}, failed};
        QTest::addRow("renewal reply living 401 days")
            << Case{{expired}, {renewed(R"({"access_token":"a","expires_in":34646400})")}, {token}, {}, failed};
        QTest::addRow("renewal without a new refresh token keeps the old one")
            << Case{{expired}, {renewed(R"({"access_token":"a","expires_in":60})"), ok()}, {token, usage}, {}, {}, report,
                    u"stored-refresh"_s};
        QTest::addRow("no renewal while Claude Code runs") << Case{{expired}, {}, {}, {}, u"TOKEN EXPIRED"_s, {}, {}, -1, true};
        QTest::addRow("no renewal when it could not be saved") << Case{{expired}, {}, {}, {}, failed, {}, {}, -1, false, false};
        QTest::addRow("store renewed by Claude Code before ours") << Case{{expired, claude}, {ok()}, {usage}, {}, {}, report};
        QTest::addRow("store renewed by Claude Code during ours is left alone")
            << Case{{expired, expired, claude}, {renewed(), ok()}, {token, usage}, {}, {}, report};
        QTest::addRow("invalid_grant, then once more with the re-read refresh token")
            << Case{{expired, expired, tokens(-hour, u"a2"_s, u"claude-refresh"_s)}, {invalidGrant, renewed(), ok()},
                    {token, token, usage}, {}, {}, report, u"next"_s};
        QTest::addRow("renewed but not saved: the fetch goes on")
            << Case{{expired}, {renewed(), ok()}, {token, usage}, {}, u"TOKEN NOT SAVED"_s, report, {}, -1, false, true, true};
        QTest::addRow("401 cured by one renewal costs no wait")
            << Case{{fresh}, {status(401), renewed(), ok()}, {usage, token, usage}, {}, {}, report, u"next"_s};
        QTest::addRow("401 after a renewal ends the fetch")
            << Case{{fresh}, {status(401), renewed(), status(401)}, {usage, token, usage}, {}, u"HTTP 401"_s, {}, u"next"_s};
        QTest::addRow("401 on the last attempt is not renewed")
            << Case{{fresh}, Script(5, status(500)) << status(401), six, allWaits, u"HTTP 401"_s};
        QTest::addRow("500 every time") << Case{{fresh}, Script(6, status(500)), six, allWaits, u"HTTP 500"_s};
        QTest::addRow("recovers on the last attempt") << Case{{fresh}, Script(5, status(503)) << ok(), six, allWaits, {}, report};
        QTest::addRow("HTML with 200 is retried, never a report of zeros")
            << Case{{fresh}, Script(6, FakeService::Reply::status(200, "<html>")), six, allWaits, u"BAD REPLY"_s};
        QTest::addRow("oversized body")
            << Case{{fresh}, Script(6, ok(QByteArray(9 << 20, ' ') + reportBody)), six, allWaits, u"BAD REPLY"_s};
        QTest::addRow("redirect is a failure, never followed")
            << Case{{fresh}, Script(6, FakeService::Reply::status(302)), six, allWaits, u"HTTP 302"_s};
        QTest::addRow("429 ends the fetch, Retry-After in seconds") << Case{{fresh}, {limited("120")}, {usage}, {}, limit, {}, {}, 120};
        QTest::addRow("429 without Retry-After holds a minute") << Case{{fresh}, {limited({})}, {usage}, {}, limit, {}, {}, 60};
        QTest::addRow("429 holds at most 15 minutes") << Case{{fresh}, {limited("86400")}, {usage}, {}, limit, {}, {}, 900};
        const QByteArray date = now.addSecs(300).toString(u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s).toLatin1();
        QTest::addRow("429 with an HTTP date") << Case{{fresh}, {limited(date)}, {usage}, {}, limit, {}, {}, 300};
    }
    void fetchCycle()
    {
        QFETCH(Case, scenario);
        Rig rig(scenario.reads);
        rig.store->canSave = scenario.canSave;
        rig.store->saveFails = scenario.saveFails;
        for (const FakeService::Reply &reply : scenario.script)
            rig.service.enqueue(reply);
        PlanUsageFetcher fetcher(rig.environment(scenario.claudeRunning));
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests(), scenario.requests);
        QCOMPARE(*rig.waits, scenario.waits);
        QCOMPARE(fetcher.lastError().value_or(QString()), scenario.error);
        QCOMPARE(fetcher.planUsage(), scenario.usage);
        QCOMPARE(fetcher.isFetching(), false);
        QCOMPARE(storedSet(rig.store->written.value(0))[u"refreshToken"_s].toString(), scenario.written);
        if (scenario.retryAfterSeconds >= 0)
            QCOMPARE(fetcher.lastFailure()->retryAt, now.addSecs(scenario.retryAfterSeconds));
        else if (fetcher.lastFailure())
            QVERIFY(fetcher.lastFailure()->retryAt > now); // the next automatic try, for the panel
    }

    void requestsCarryTheirHeadersAndRenewalIsStored()
    {
        Rig rig({tokens(hour)});
        rig.service.enqueue(status(401));
        rig.service.enqueue(renewed(R"({"access_token":"new-access","expires_in":3600})"));
        rig.service.enqueue(ok());
        PlanUsageFetcher fetcher(rig.environment());
        QStringList changes;
        connect(&fetcher, &PlanUsageFetcher::planUsageChanged, this, [&] { changes << u"planUsage"_s; });
        connect(&fetcher, &PlanUsageFetcher::isFetchingChanged, this, [&] { changes << u"fetching"_s; });
        connect(&fetcher, &PlanUsageFetcher::lastErrorChanged, this, [&] { changes << u"error"_s; });
        QVERIFY(finish(fetcher.fetchUsage()));
        // The report is in place before the error is cleared, and the fetch ends last.
        QCOMPARE(changes, QStringList({u"fetching"_s, u"planUsage"_s, u"error"_s, u"fetching"_s}));
        const QList<FakeService::Request> &requests = rig.service.requests();
        QCOMPARE(requests.size(), 3);
        QVERIFY(requests[0].header("User-Agent").value_or("").startsWith("Glimmerox/"));
        QCOMPARE(requests[0].header("Authorization"), QByteArray("Bearer stored-access"));
        QCOMPARE(requests[0].header("anthropic-beta"), QByteArray("oauth-2025-04-20"));
        QVERIFY(!requests[1].header("Authorization") && !requests[1].header("anthropic-beta"));
        const QJsonObject grant{{u"grant_type"_s, u"refresh_token"_s},
                                {u"client_id"_s, u"7c3e9a41-2b8d-4f6e-a1c5-0d9e8f7a6b54"_s},
                                {u"refresh_token"_s, u"stored-refresh"_s}};
        QCOMPARE(QJsonDocument::fromJson(requests[1].body).object(), grant);
        QCOMPARE(requests[2].header("Authorization"), QByteArray("Bearer new-access"));
        // The renewed token lives "expires_in" seconds from the reply.
        const QJsonObject set = storedSet(rig.store->written.value(0));
        QVERIFY(set[u"accessToken"_s] == u"new-access"_s && set[u"expiresAt"_s] == double(nowMs + hour));
    }

    void transportFailure_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<FakeService::Reply>("reply");
        QTest::addRow("connection refused") << true << FakeService::Reply::hangUp();
        QTest::addRow("body cut off after a 200") << false << FakeService::Reply::cutOff(200, R"({"five_hour":)");
    }
    void transportFailure()
    {
        QFETCH(bool, refused);
        QFETCH(FakeService::Reply, reply);
        Rig rig({tokens(hour)});
        rig.service.setFallback(reply);
        PlanFetcherEnvironment environment = rig.environment();
        if (refused)
            environment.usageURL = FakeService::closedPortUrl(u"/api/oauth/usage"_s);
        PlanUsageFetcher fetcher(environment);
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(*rig.waits, allWaits);
        const QString error = fetcher.lastError().value_or(QString());
        QVERIFY2(!error.isEmpty() && !error.startsWith(u"HTTP"_s) && !error.contains(u"stored-access"_s), qPrintable(error));
        QCOMPARE(fetcher.planUsage(), std::nullopt);
    }

    // K2 while a fetch runs shows that fetch's outcome; after a 429 nothing is sent, by K2 or
    // by the schedule, until its time; a failure keeps the last report.
    void oneFetchAtATimeAndRateLimitsHold()
    {
        Rig rig({tokens(hour)});
        rig.service.enqueue(ok());
        rig.service.setFallback(limited("120"));
        PlanUsageFetcher fetcher(rig.environment());
        const QFuture<void> first = fetcher.fetchUsage();
        fetcher.fetchUsage();
        fetcher.fetchUsage();
        QVERIFY(finish(first));
        QCOMPARE(rig.requests(), QStringList{usage});
        rig.clock->fetch_add(5 * 60 * 1000); // the next automatic fetch is due
        QTRY_COMPARE(fetcher.lastError(), std::optional(u"RATE LIMITED"_s));
        QCOMPARE(fetcher.planUsage(), std::optional(report));
        rig.clock->fetch_add(119 * 1000);
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests().size(), 2);
        rig.clock->fetch_add(2 * 1000);
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests().size(), 3);
    }

    // The fetch at launch needs no K2; a wall clock that jumps (sleep and wake) brings the next one forward.
    void fetchesAtLaunchAndAfterWake()
    {
        Rig rig({tokens(10 * hour)});
        rig.service.setFallback(ok());
        PlanUsageFetcher fetcher(rig.environment());
        QTRY_VERIFY(fetcher.planUsage().has_value());
        QCOMPARE(rig.requests().size(), 1);
        // Two minutes asleep: the 5-minute period has not passed, the wake alone makes it due.
        rig.clock->fetch_add(2 * 60 * 1000);
        QSignalSpy ticks(&fetcher, &PlanUsageFetcher::ticked);
        QVERIFY(ticks.wait()); // the tick that notices the jump
        rig.clock->fetch_add(10 * 1000);
        QTRY_COMPARE(rig.requests().size(), 2);
    }

    // A fetch waiting between attempts is stopped when its fetcher goes away.
    void destroyingTheFetcherStopsItsFetch()
    {
        Rig rig({tokens(hour)});
        rig.service.setFallback(status(500));
        PlanFetcherEnvironment environment = rig.environment();
        std::atomic<int> waiting = 0;
        environment.sleep = [&waiting](std::chrono::milliseconds, std::stop_token stop) {
            ++waiting;
            std::mutex mutex;
            std::condition_variable_any wakeUp;
            std::unique_lock lock(mutex);
            wakeUp.wait(lock, stop, [] { return false; });
        };
        auto fetcher = std::make_unique<PlanUsageFetcher>(environment);
        const QFuture<void> future = fetcher->fetchUsage();
        QTRY_COMPARE(waiting.load(), 1);
        fetcher.reset();
        QVERIFY(future.isFinished());
        QCOMPARE(rig.requests().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPlanFetcher)
#include "tst_planfetcher.moc"
