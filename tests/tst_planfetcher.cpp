#include "fakeservice.h"
#include "planusagefetcher.h"

#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>

using Script = QList<FakeService::Reply>;
using OptionalUsage = std::optional<PlanUsage>;
Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(OptionalUsage)

namespace {

using namespace std::chrono_literals;

const QDateTime now = QDateTime::fromMSecsSinceEpoch(1765000000000, Qt::UTC);
const QString usage = QStringLiteral("GET /api/oauth/usage");
const QString token = QStringLiteral("POST /v1/oauth/token");
const QByteArray reportBody =
    R"({"five_hour":{"utilization":42.5,"resets_at":"2025-12-06T10:00:00Z"},"seven_day":{"utilization":7}})";
const PlanUsage report{42.5, QDateTime(QDate(2025, 12, 6), QTime(10, 0), Qt::UTC), 7, {}};

// A stored token set expiring `ahead` milliseconds after `now`, with members the program does not own.
QByteArray tokens(qint64 ahead)
{
    return QJsonDocument(QJsonObject{
                             {"claudeAiOauth", QJsonObject{{"accessToken", "stored-access"},
                                                           {"refreshToken", "stored-refresh"},
                                                           {"expiresAt", double(now.toMSecsSinceEpoch() + ahead)},
                                                           {"scopes", QJsonArray{"user:inference"}},
                                                           {"subscriptionType", "max"}}},
                             {"mcpOAuth", QJsonObject{{"kept", 1}}},
                         })
        .toJson();
}

FakeService::Reply ok() { return FakeService::Reply::json(reportBody); }
FakeService::Reply status(int code) { return FakeService::Reply::status(code, R"({"access_token":"x","expires_in":1})"); }
FakeService::Reply renewed(QByteArray body = R"({"access_token":"new-access","expires_in":3600})")
{
    return FakeService::Reply::json(std::move(body));
}
Script repeat(const FakeService::Reply &reply, int times) { return Script(times, reply); }

// The waits a fetch asked for, recorded from its worker thread; they return at once.
struct WaitLog
{
    std::mutex mutex;
    QList<qint64> milliseconds;
    void add(std::chrono::milliseconds wait)
    {
        const std::lock_guard lock(mutex);
        milliseconds.append(wait.count());
    }
    QList<qint64> taken()
    {
        const std::lock_guard lock(mutex);
        return milliseconds;
    }
};

// A home with a credentials file, a service stand-in and the recorded waits.
struct Rig
{
    QTemporaryDir home;
    FakeService service;
    std::shared_ptr<WaitLog> waits = std::make_shared<WaitLog>();

    QString credentialsPath() const { return home.filePath(".claude/.credentials.json"); }
    void store(const QByteArray &document) const
    {
        QDir(home.path()).mkpath(".claude");
        QFile file(credentialsPath());
        if (file.open(QIODevice::WriteOnly))
            file.write(document);
    }
    QByteArray stored() const
    {
        QFile file(credentialsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    PlanFetcherEnvironment environment() const
    {
        auto environment = PlanFetcherEnvironment::system();
        environment.usageURL = service.url("/api/oauth/usage");
        environment.tokenURL = service.url("/v1/oauth/token");
        environment.credentials = std::make_shared<FileCredentialStore>(credentialsPath());
        environment.now = [] { return now; };
        environment.sleep = [waits = waits](std::chrono::milliseconds wait, std::stop_token) { waits->add(wait); };
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

// Every published change in the order it reached the main thread.
void recordChanges(PlanUsageFetcher &fetcher, QStringList &changes)
{
    QObject::connect(&fetcher, &PlanUsageFetcher::planUsageChanged, [&] { changes << "planUsage"; });
    QObject::connect(&fetcher, &PlanUsageFetcher::isFetchingChanged, [&] {
        changes << (fetcher.isFetching() ? "isFetching=true" : "isFetching=false");
    });
    QObject::connect(&fetcher, &PlanUsageFetcher::lastErrorChanged,
                     [&] { changes << "lastError=" + fetcher.lastError().value_or("null"); });
}

// Waits for the fetch, then delivers the changes it queued.
bool finish(const QFuture<void> &future)
{
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, 60000))
        return false;
    QCoreApplication::sendPostedEvents();
    return true;
}

const QStringList success{"isFetching=true", "planUsage", "lastError=null", "isFetching=false"};
QStringList failure(const QString &error) { return {"isFetching=true", "lastError=" + error, "isFetching=false"}; }
const QList<qint64> allWaits{1000, 2000, 4000, 8000, 16000};

} // namespace

class TestPlanFetcher : public QObject
{
    Q_OBJECT

private slots:
    void fetchCycle_data()
    {
        QTest::addColumn<QByteArray>("document"); // empty: no credentials file
        QTest::addColumn<Script>("script");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QList<qint64>>("waits"); // milliseconds
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<OptionalUsage>("usage");

        const qint64 hour = 3600000;
        QTest::addRow("no credentials file") << QByteArray() << Script{} << QStringList{} << QList<qint64>{}
                                             << QStringList{"lastError=NO TOKEN"} << OptionalUsage();
        QTest::addRow("access token not a string")
            << QByteArray(R"({"claudeAiOauth":{"accessToken":5,"expiresAt":1e20}})") << Script{} << QStringList{}
            << QList<qint64>{} << QStringList{"lastError=NO TOKEN"} << OptionalUsage();
        QTest::addRow("report received") << tokens(hour) << Script{ok()} << QStringList{usage} << QList<qint64>{}
                                         << success << OptionalUsage(report);
        QTest::addRow("unreadable report is the empty record")
            << tokens(hour) << Script{FakeService::Reply::json("<html>")} << QStringList{usage} << QList<qint64>{}
            << success << OptionalUsage(PlanUsage{});
        // Not read beyond the size limit: what was read is unreadable, so the window stays empty.
        const QByteArray huge = "{\"five_hour\":{\"utilization\":5},\"pad\":\"" + QByteArray(9 << 20, 'x') + "\"}";
        QTest::addRow("oversized report is unreadable")
            << tokens(hour) << Script{FakeService::Reply::json(huge)} << QStringList{usage} << QList<qint64>{}
            << success << OptionalUsage(PlanUsage{});
        QTest::addRow("token expiring within a minute is renewed first")
            << tokens(30000) << Script{renewed(), ok()} << QStringList{token, usage} << QList<qint64>{} << success
            << OptionalUsage(report);
        QTest::addRow("expired token whose renewal fails")
            << tokens(-hour) << Script{status(400)} << QStringList{token} << QList<qint64>{}
            << failure("TOKEN REFRESH FAILED") << OptionalUsage();
        QTest::addRow("expiry not a number counts as expired")
            << QByteArray(R"({"claudeAiOauth":{"accessToken":"a","refreshToken":"r","expiresAt":"later"}})")
            << Script{status(401)} << QStringList{token} << QList<qint64>{} << failure("TOKEN REFRESH FAILED")
            << OptionalUsage();
        QTest::addRow("500 every time") << tokens(hour) << repeat(status(500), 6) << QStringList(6, usage)
                                        << allWaits << failure("HTTP 500") << OptionalUsage();
        QTest::addRow("recovers on the last attempt")
            << tokens(hour) << repeat(status(503), 5) + Script{ok()} << QStringList(6, usage) << allWaits << success
            << OptionalUsage(report);
        QTest::addRow("401 cured by renewal costs no wait")
            << tokens(hour) << Script{status(401), renewed(), ok()} << QStringList{usage, token, usage}
            << QList<qint64>{} << success << OptionalUsage(report);
        Script rejected;
        QStringList rejectedRequests;
        for (int attempt = 0; attempt < 5; ++attempt) {
            rejected << status(401) << status(400);
            rejectedRequests << usage << token;
        }
        QTest::addRow("401 every time, renewal failing")
            << tokens(hour) << rejected + Script{status(401)} << rejectedRequests + QStringList{usage} << allWaits
            << failure("HTTP 401") << OptionalUsage();
        QTest::addRow("401 on the last attempt is not renewed")
            << tokens(hour) << repeat(status(500), 5) + Script{status(401)} << QStringList(6, usage) << allWaits
            << failure("HTTP 401") << OptionalUsage();
        QTest::addRow("403 is never renewed") << tokens(hour) << repeat(status(403), 6) << QStringList(6, usage)
                                              << allWaits << failure("HTTP 403") << OptionalUsage();
        FakeService::Reply redirect = FakeService::Reply::status(302);
        redirect.headers = {{"Location", "/elsewhere"}};
        QTest::addRow("redirect is a failure, never followed")
            << tokens(hour) << repeat(redirect, 6) << QStringList(6, usage) << allWaits << failure("HTTP 302")
            << OptionalUsage();
    }
    void fetchCycle()
    {
        QFETCH(QByteArray, document);
        QFETCH(Script, script);
        QFETCH(QStringList, requests);
        QFETCH(QList<qint64>, waits);
        QFETCH(QStringList, changes);
        QFETCH(OptionalUsage, usage);

        Rig rig;
        if (!document.isEmpty())
            rig.store(document);
        for (const FakeService::Reply &reply : script)
            rig.service.enqueue(reply);
        PlanUsageFetcher fetcher(rig.environment());
        QStringList published;
        recordChanges(fetcher, published);

        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests(), requests);
        QCOMPARE(rig.waits->taken(), waits);
        QCOMPARE(published, changes);
        QCOMPARE(fetcher.planUsage(), usage);
        QCOMPARE(fetcher.isFetching(), false);
    }

    void requestsCarryTheirHeadersAndRenewalIsStored()
    {
        Rig rig;
        rig.store(tokens(3600000));
        rig.service.enqueue(status(401));
        rig.service.enqueue(renewed());
        rig.service.enqueue(ok());
        PlanUsageFetcher fetcher(rig.environment());
        QVERIFY(finish(fetcher.fetchUsage()));
        const QList<FakeService::Request> &requests = rig.service.requests();
        QCOMPARE(requests.size(), 3);

        const FakeService::Request &first = requests[0];
        QCOMPARE(first.header("Authorization"), QByteArray("Bearer stored-access"));
        QCOMPARE(first.header("Accept"), QByteArray("application/json"));
        QCOMPARE(first.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(first.header("anthropic-beta"), QByteArray("oauth-2025-04-20"));
        QVERIFY(first.header("User-Agent").value_or("").startsWith("Glimmerox/"));
        QVERIFY(first.body.isEmpty());

        const FakeService::Request &renewal = requests[1];
        QCOMPARE(renewal.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!renewal.header("Authorization"));
        QVERIFY(!renewal.header("Accept"));
        QVERIFY(!renewal.header("anthropic-beta"));
        const QJsonObject grant{{"grant_type", "refresh_token"},
                                {"client_id", "7c3e9a41-2b8d-4f6e-a1c5-0d9e8f7a6b54"},
                                {"refresh_token", "stored-refresh"}};
        QCOMPARE(QJsonDocument::fromJson(renewal.body).object(), grant);

        QCOMPARE(requests[2].header("Authorization"), QByteArray("Bearer new-access"));

        // The renewed set is written back; without a new refresh token the old one is kept.
        QJsonObject expected = QJsonDocument::fromJson(tokens(3600000)).object();
        QJsonObject set = expected.value("claudeAiOauth").toObject();
        set.insert("accessToken", "new-access");
        set.insert("refreshToken", "stored-refresh");
        set.insert("expiresAt", double(now.toMSecsSinceEpoch() + 3600000));
        expected.insert("claudeAiOauth", set);
        QCOMPARE(QJsonDocument::fromJson(rig.stored()).object(), expected);
    }

    void renewalReplies_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<FakeService::Reply>("reply");
        QTest::addColumn<QString>("storedRefresh"); // empty: the file must stay as it was
        const QByteArray expired = tokens(-1);
        QTest::addRow("new refresh token stored")
            << expired << renewed(R"({"access_token":"new-access","expires_in":60,"refresh_token":"next"})")
            << "next";
        QTest::addRow("status 400 with tokens") << expired << status(400) << QString();
        QTest::addRow("no lifetime") << expired << renewed(R"({"access_token":"new-access"})") << QString();
        QTest::addRow("fractional lifetime") << expired << renewed(R"({"access_token":"n","expires_in":3600.5})")
                                             << QString();
        QTest::addRow("lifetime beyond 64 bits") << expired << renewed(R"({"access_token":"n","expires_in":1e300})")
                                                 << QString();
        QTest::addRow("no access token") << expired << renewed(R"({"expires_in":3600})") << QString();
        QTest::addRow("no refresh token stored: no exchange")
            << QByteArray(R"({"claudeAiOauth":{"accessToken":"a","expiresAt":0}})") << renewed() << QString();
    }
    void renewalReplies()
    {
        QFETCH(QByteArray, document);
        QFETCH(FakeService::Reply, reply);
        QFETCH(QString, storedRefresh);
        Rig rig;
        rig.store(document);
        rig.service.enqueue(reply);
        rig.service.enqueue(ok());
        PlanUsageFetcher fetcher(rig.environment());
        QVERIFY(finish(fetcher.fetchUsage()));
        if (storedRefresh.isEmpty()) {
            QCOMPARE(fetcher.lastError(), std::optional<QString>("TOKEN REFRESH FAILED"));
            QCOMPARE(rig.stored(), document);
            QCOMPARE(rig.requests(), document.contains("refreshToken") ? QStringList{token} : QStringList{});
            return;
        }
        QCOMPARE(fetcher.lastError(), std::nullopt);
        const QJsonObject set = QJsonDocument::fromJson(rig.stored()).object().value("claudeAiOauth").toObject();
        QCOMPARE(set.value("accessToken").toString(), "new-access");
        QCOMPARE(set.value("refreshToken").toString(), storedRefresh);
    }

    void transportFailure_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<FakeService::Reply>("reply");
        QTest::addRow("connection refused") << true << FakeService::Reply::hangUp();
        QTest::addRow("connection closed without an answer") << false << FakeService::Reply::hangUp();
        // A report cut short must not replace anything, even behind a status of 200.
        QTest::addRow("body cut off after a 200") << false << FakeService::Reply::cutOff(200, R"({"five_hour":)");
    }
    void transportFailure()
    {
        QFETCH(bool, refused);
        QFETCH(FakeService::Reply, reply);
        Rig rig;
        rig.store(tokens(3600000));
        rig.service.setFallback(reply);
        PlanFetcherEnvironment environment = rig.environment();
        if (refused)
            environment.usageURL = FakeService::closedPortUrl("/api/oauth/usage");
        PlanUsageFetcher fetcher(environment);
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.waits->taken(), allWaits);
        const QString error = fetcher.lastError().value_or(QString());
        QVERIFY2(!error.isEmpty() && !error.startsWith("HTTP"), qPrintable(error));
        QVERIFY(!error.contains("stored-access"));
        QCOMPARE(fetcher.planUsage(), std::nullopt);
    }

    void failureKeepsTheLastReport()
    {
        Rig rig;
        rig.store(tokens(3600000));
        rig.service.enqueue(ok());
        rig.service.setFallback(status(429));
        PlanUsageFetcher fetcher(rig.environment());
        QVERIFY(finish(fetcher.fetchUsage()));
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(fetcher.planUsage(), std::optional(report));
        QCOMPARE(fetcher.lastError(), std::optional<QString>("HTTP 429"));
    }

    void overlappingFetchesAreIndependent()
    {
        Rig rig;
        rig.store(tokens(3600000));
        rig.service.setFallback(ok());
        PlanUsageFetcher fetcher(rig.environment());
        QStringList published;
        recordChanges(fetcher, published);
        const QFuture<void> first = fetcher.fetchUsage();
        const QFuture<void> second = fetcher.fetchUsage();
        QVERIFY(finish(first));
        QVERIFY(finish(second));
        QCOMPARE(rig.requests(), QStringList(2, usage));
        QCOMPARE(published.count("isFetching=true"), 2);
        QCOMPARE(published.count("isFetching=false"), 2);
        QCOMPARE(published.count("planUsage"), 2);
        QCOMPARE(published.last(), "isFetching=false");
    }

    // A fetch waiting between attempts is stopped when its fetcher goes away: the destructor
    // returns, the future finishes, and no further request is sent.
    void destroyingTheFetcherStopsItsFetch()
    {
        Rig rig;
        rig.store(tokens(3600000));
        rig.service.setFallback(status(500));
        PlanFetcherEnvironment environment = rig.environment();
        environment.sleep = [waits = rig.waits](std::chrono::milliseconds wait, std::stop_token stop) {
            waits->add(wait);
            std::mutex mutex;
            std::condition_variable_any wakeUp;
            std::unique_lock lock(mutex);
            wakeUp.wait(lock, stop, [] { return false; });
        };
        auto fetcher = std::make_unique<PlanUsageFetcher>(environment);
        const QFuture<void> future = fetcher->fetchUsage();
        QTRY_COMPARE(rig.waits->taken().size(), 1);
        fetcher.reset();
        QVERIFY(future.isFinished());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(rig.requests().size(), 1);
    }

    void tickNotifiesWithoutChanging()
    {
        Rig rig;
        PlanUsageFetcher fetcher(rig.environment());
        QStringList published;
        recordChanges(fetcher, published);
        QSignalSpy ticks(&fetcher, &PlanUsageFetcher::ticked);
        QVERIFY(ticks.wait(3000));
        QVERIFY(published.isEmpty());
        QVERIFY(rig.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPlanFetcher)
#include "tst_planfetcher.moc"
