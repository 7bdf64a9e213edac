#include "credentialdocument.h"
#include "fakeservice.h"
#include "planusagefetcher.h"

#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Script = QList<FakeService::Reply>;
using OptionalUsage = std::optional<PlanUsage>;
using Outcome = CredentialRead::Outcome;

namespace {

constexpr qint64 nowMs = 1765000000000;
constexpr qint64 hour = 3600000;
const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC);
const QString usage = u"GET /api/oauth/usage"_s;
const QByteArray reportBody =
    R"({"five_hour":{"utilization":42.5,"resets_at":"2025-12-06T10:00:00Z"},"seven_day":null})";
const PlanUsage report = PlanUsage::fromWindows(
    {{PlanWindowKind::fiveHour, {}, 42.5, QDateTime(QDate(2025, 12, 6), QTime(10, 0), Qt::UTC), PlanSource::usageService, now,
      false, false}},
    {});

// A stored login expiring `ahead` ms after `now`, with members the program does not own.
QByteArray tokens(qint64 ahead, const QString &access = u"stored-access"_s)
{
    const QJsonObject set{{u"accessToken"_s, access}, {u"refreshToken"_s, u"stored-refresh"_s},
                          {u"expiresAt"_s, double(nowMs + ahead)}, {u"subscriptionType"_s, u"max"_s}};
    return QJsonDocument(QJsonObject{{u"claudeAiOauth"_s, set}, {u"mcpOAuth"_s, QJsonObject{{u"kept"_s, 1}}}})
        .toJson();
}
CredentialRead found(const QByteArray &document) { return {Outcome::found, document, {}}; }

FakeService::Reply ok(QByteArray body = reportBody) { return FakeService::Reply::json(std::move(body)); }
FakeService::Reply status(int code, QByteArray body = {}) { return FakeService::Reply::status(code, std::move(body)); }
FakeService::Reply limited(QByteArray retryAfter) { return {429, {{"Retry-After", retryAfter}}, {}, false, 0}; }
const QList<qint64> allWaits{1000, 2000, 4000, 8000, 16000};

// Claude Code's store as the fetch sees it: each read takes the next outcome of `reads` (the
// last one stays); none at all is a missing login. Read on the worker thread.
struct ScriptedStore final : CredentialStore
{
    mutable std::mutex mutex;
    mutable QList<CredentialRead> reads;

    CredentialRead read() const override
    {
        const std::lock_guard lock(mutex);
        if (reads.isEmpty())
            return {};
        return reads.size() > 1 ? reads.takeFirst() : reads[0];
    }
    QString location() const override { return u"~/.claude/.credentials.json"_s; }
};

// A keychain whose prompt nobody answers: read() blocks until the answer is set.
struct PromptingStore final : CredentialStore
{
    std::promise<void> answer;
    std::shared_future<void> answered = answer.get_future().share();
    mutable std::atomic<bool> asked = false;

    CredentialRead read() const override
    {
        asked = true;
        answered.wait();
        return {Outcome::denied, {}, u"User canceled the operation."_s};
    }
    QString location() const override { return u"the macOS keychain"_s; }
};

// One scenario of the fetch cycle against the service stand-in.
struct Case
{
    QList<CredentialRead> reads; // successive reads of the store; none: no login at all
    Script script;
    QStringList requests;
    QList<qint64> waits = {};
    QString error = {}; // the final lastError; empty: none
    OptionalUsage usage = {};
    qint64 retryAfterSeconds = -1; // for a 429
};

// The service stand-in, a controllable clock, the recorded waits and the store.
struct Rig
{
    FakeService service;
    std::shared_ptr<std::atomic<qint64>> clock = std::make_shared<std::atomic<qint64>>(nowMs);
    std::shared_ptr<std::mutex> waitMutex = std::make_shared<std::mutex>();
    std::shared_ptr<QList<qint64>> waits = std::make_shared<QList<qint64>>();
    std::shared_ptr<ScriptedStore> store = std::make_shared<ScriptedStore>();

    explicit Rig(QList<CredentialRead> reads) { store->reads = std::move(reads); }
    PlanFetcherEnvironment environment() const
    {
        PlanFetcherEnvironment environment;
        environment.usageURL = service.url(u"/api/oauth/usage"_s);
        environment.credentials = store;
        environment.now = [clock = clock] { return QDateTime::fromMSecsSinceEpoch(clock->load(), Qt::UTC); };
        environment.sleep = [mutex = waitMutex, waits = waits](std::chrono::milliseconds wait, std::stop_token) {
            const std::lock_guard lock(*mutex);
            waits->append(wait.count());
        };
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

const QByteArray login = R"({"claudeAiOauth":{"accessToken":"access","expiresAt":1700000000000},"mcpOAuth":{}})";

// Replaces the file the way Claude Code does: a new file renamed over the old one.
bool replaceFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestPlanFetcher : public QObject
{
    Q_OBJECT

private slots:
    void tokenSet()
    {
        for (const QByteArray bad : {R"({"claudeAiOauth":"x"})", R"({"other":{}})", R"([{"claudeAiOauth":{}}])", "x"})
            QVERIFY2(!CredentialDocument::tokenSet(bad), bad.constData());
        QCOMPARE(CredentialDocument::tokenSet(login)->value(u"accessToken"_s).toString(), u"access"_s);
    }

    // Each read says what it found; only a missing file is a missing login, every other
    // failure carries the system's reason. The file itself is never changed.
    void fileRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("error");
        QTest::addRow("the file") << u"file"_s << int(Outcome::found) << QString();
        QTest::addRow("through a link") << u"link"_s << int(Outcome::found) << QString();
        QTest::addRow("missing") << u"missing"_s << int(Outcome::missing) << QString();
        QTest::addRow("dangling link") << u"dangling"_s << int(Outcome::missing) << QString();
        QTest::addRow("a folder in its place") << u"folder"_s << int(Outcome::failed) << u"Not a regular file"_s;
        QTest::addRow("a FIFO never blocks") << u"fifo"_s << int(Outcome::failed) << u"Not a regular file"_s;
        QTest::addRow("far too large") << u"huge"_s << int(Outcome::failed) << u"Larger than 1048576 bytes"_s;
        QTest::addRow("a file where its folder should be") << u"file/x"_s << int(Outcome::failed) << u"Not a directory"_s;
        QTest::addRow("no permission") << u"locked"_s << int(Outcome::failed) << u"Permission denied"_s;
    }
    void fileRead()
    {
        QFETCH(QString, name);
        QFETCH(int, outcome);
        QFETCH(QString, error);
        if (name == u"locked" && ::geteuid() == 0)
            QSKIP("root reads any file");
        QTemporaryDir home;
        const QDir dir(home.path());
        QVERIFY(replaceFile(dir.filePath(u"file"_s), login) && replaceFile(dir.filePath(u"locked"_s), login));
        QVERIFY(QFile::setPermissions(dir.filePath(u"locked"_s), {}));
        QVERIFY(replaceFile(dir.filePath(u"huge"_s), QByteArray(2 << 20, ' ') + login));
        QVERIFY(QFile::link(dir.filePath(u"file"_s), dir.filePath(u"link"_s)));
        QVERIFY(QFile::link(dir.filePath(u"gone"_s), dir.filePath(u"dangling"_s)));
        QVERIFY(dir.mkdir(u"folder"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"fifo"_s)).constData(), 0600), 0);

        const CredentialRead read = FileCredentialStore(dir.filePath(name)).read();
        QCOMPARE(int(read.outcome), outcome);
        QCOMPARE(read.error, error);
        QCOMPARE(read.document, outcome == int(Outcome::found) ? login : QByteArray());
    }

    // Claude Code replaces the file, so its folder is watched too; the location reads as the user knows it.
    void watchAndLocation()
    {
        const QString path = QDir::homePath() + u"/.claude/.credentials.json"_s;
        const FileCredentialStore store(path);
        QCOMPARE(store.watchedPaths(), QStringList({path, QDir::homePath() + u"/.claude"_s}));
        QCOMPARE(store.location(), u"~/.claude/.credentials.json"_s);
    }

    void fetchCycle_data()
    {
        QTest::addColumn<Case>("scenario");
        const CredentialRead fresh = found(tokens(hour));
        const CredentialRead renewed = found(tokens(hour, u"claude-access"_s));
        const QStringList six(6, usage);
        const QString limit = u"RATE LIMITED"_s;
        const QString rejected = u"HTTP 401"_s;
        QTest::addRow("no login") << Case{{}, {}, {}, {}, u"NO TOKEN"_s};
        QTest::addRow("access token with a line break") << Case{{found(tokens(hour, u"a\r\nX: 1"_s))}, {}, {}, {}, u"NO TOKEN"_s};
        QTest::addRow("unreadable login is not NO TOKEN")
            << Case{{{Outcome::failed, {}, u"Permission denied"_s}}, {}, {}, {}, u"LOGIN UNREADABLE"_s};
        QTest::addRow("keychain denial") << Case{{{Outcome::denied, {}, u"denied"_s}}, {}, {}, {}, u"KEYCHAIN DENIED"_s};
        QTest::addRow("expired: nothing is sent") << Case{{found(tokens(-1))}, {}, {}, {}, u"TOKEN EXPIRED"_s};
        QTest::addRow("expiring in a second is still sent") << Case{{found(tokens(1000))}, {ok()}, {usage}, {}, {}, report};
        QTest::addRow("401 with the same token stored ends at once") << Case{{fresh}, {status(401)}, {usage}, {}, rejected};
        QTest::addRow("401, then the token Claude Code stored meanwhile, without a wait")
            << Case{{fresh, renewed}, {status(401), ok()}, {usage, usage}, {}, {}, report};
        QTest::addRow("401 twice: the stored token is tried once only")
            << Case{{fresh, renewed, found(tokens(hour, u"third"_s))}, {status(401), status(401)}, {usage, usage}, {}, rejected};
        QTest::addRow("401, and the stored token expired too")
            << Case{{fresh, found(tokens(-1, u"claude-access"_s))}, {status(401)}, {usage}, {}, u"TOKEN EXPIRED"_s};
        QTest::addRow("401 after a failed attempt ends at once")
            << Case{{fresh}, {status(500), status(401)}, {usage, usage}, {1000}, rejected};
        QTest::addRow("500 every time") << Case{{fresh}, Script(6, status(500)), six, allWaits, u"HTTP 500"_s};
        QTest::addRow("recovers on the last attempt") << Case{{fresh}, Script(5, status(503)) << ok(), six, allWaits, {}, report};
        QTest::addRow("HTML with 200 is retried, never a report of zeros")
            << Case{{fresh}, Script(6, FakeService::Reply::status(200, "<html>")), six, allWaits, u"BAD REPLY"_s};
        QTest::addRow("an object without windows: a plan without these limits")
            << Case{{fresh}, {ok(R"({"five_hour":null,"seven_day":null,"limits":[]})")}, {usage}, {}, {},
                    PlanUsage{{}, {}, {}, {}, {}, now, {}}};
        QTest::addRow("oversized body")
            << Case{{fresh}, Script(6, ok(QByteArray(9 << 20, ' ') + reportBody)), six, allWaits, u"BAD REPLY"_s};
        QTest::addRow("redirect is a failure, never followed")
            << Case{{fresh}, Script(6, FakeService::Reply::status(302)), six, allWaits, u"HTTP 302"_s};
        QTest::addRow("429 ends the fetch, Retry-After in seconds") << Case{{fresh}, {limited("120")}, {usage}, {}, limit, {}, 120};
        QTest::addRow("429 without Retry-After holds a minute") << Case{{fresh}, {limited({})}, {usage}, {}, limit, {}, 60};
        const QByteArray date = now.addSecs(300).toString(u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s).toLatin1();
        QTest::addRow("429 with an HTTP date") << Case{{fresh}, {limited(date)}, {usage}, {}, limit, {}, 300};
    }
    void fetchCycle()
    {
        QFETCH(Case, scenario);
        Rig rig(scenario.reads);
        for (const FakeService::Reply &reply : scenario.script)
            rig.service.enqueue(reply);
        PlanUsageFetcher fetcher(rig.environment());
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests(), scenario.requests);
        QCOMPARE(*rig.waits, scenario.waits);
        QCOMPARE(fetcher.lastError().value_or(QString()), scenario.error);
        QCOMPARE(fetcher.planUsage(), scenario.usage);
        QCOMPARE(fetcher.isFetching(), false);
        if (scenario.retryAfterSeconds >= 0) {
            QCOMPARE(fetcher.lastFailure()->retryAt, now.addSecs(scenario.retryAfterSeconds));
            QCOMPARE(fetcher.nextFetchAt(), now.addSecs(scenario.retryAfterSeconds)); // retried right then
        } else if (fetcher.lastFailure()) {
            QVERIFY(fetcher.lastFailure()->retryAt > now); // the next automatic try, for the panel
        }
    }

    // The headers of each request; after a 401 the token Claude Code stored meanwhile is sent.
    void requestsCarryTheirHeaders()
    {
        Rig rig({found(tokens(hour)), found(tokens(hour, u"claude-access"_s))});
        rig.service.enqueue(status(401));
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
        QCOMPARE(requests.size(), 2);
        QVERIFY(requests[0].header("User-Agent").value_or("").startsWith("Glimmerox/"));
        QCOMPARE(requests[0].header("Authorization"), QByteArray("Bearer stored-access"));
        QCOMPARE(requests[0].header("anthropic-beta"), QByteArray("oauth-2025-04-20"));
        QCOMPARE(requests[1].header("Authorization"), QByteArray("Bearer claude-access"));
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
        Rig rig({found(tokens(hour))});
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

    // K2 while a fetch runs, or within 30 s of the last one, shows that fetch's outcome. A 429
    // keeps the last report, blocks every request until its time and is retried right then.
    void fetchesAreSpacedAndRateLimitsHold()
    {
        Rig rig({found(tokens(10 * hour))});
        rig.service.enqueue(ok());
        rig.service.setFallback(limited("120"));
        PlanUsageFetcher fetcher(rig.environment());
        const QFuture<void> first = fetcher.fetchUsage();
        fetcher.fetchUsage();
        QVERIFY(finish(first));
        rig.clock->fetch_add(29 * 1000);
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests(), QStringList{usage});
        rig.clock->fetch_add(5 * 60 * 1000); // the next automatic fetch is due
        QTRY_COMPARE(fetcher.lastError(), std::optional(u"RATE LIMITED"_s));
        QCOMPARE(fetcher.planUsage(), std::optional(report));
        rig.clock->fetch_add(119 * 1000);
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests().size(), 2);
        rig.service.setFallback(ok());
        rig.clock->fetch_add(1000); // the service's time: retried without a press
        QTRY_VERIFY(rig.requests().size() == 3 && !fetcher.lastError());
    }

    // The fetch at launch needs no K2; a wall clock that jumps (sleep and wake) brings the next one forward.
    void fetchesAtLaunchAndAfterWake()
    {
        Rig rig({found(tokens(10 * hour))});
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

    // While fresh figures need no login the schedule sends nothing; K2 still fetches.
    void heldScheduleWaits()
    {
        Rig rig({found(tokens(10 * hour))});
        rig.service.setFallback(ok());
        PlanUsageFetcher fetcher(rig.environment());
        fetcher.setAutomaticFetchHeld(true);
        QSignalSpy ticks(&fetcher, &PlanUsageFetcher::ticked);
        QVERIFY(ticks.wait()); // the launch's fetch was due at that tick
        rig.clock->fetch_add(6 * 60 * 1000);
        QVERIFY(ticks.wait());
        QVERIFY(rig.requests().isEmpty());
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(rig.requests().size(), 1);
        fetcher.setAutomaticFetchHeld(false);
        rig.clock->fetch_add(6 * 60 * 1000);
        QTRY_COMPARE(rig.requests().size(), 2);
    }

    // An expired login, then Claude Code replacing its file with a renewed one: the fetch follows
    // by itself, and a later fetch reads the store again.
    void renewedLoginIsPickedUp()
    {
        QTemporaryDir home;
        const QString path = home.filePath(u".credentials.json"_s);
        QVERIFY(replaceFile(path, tokens(-hour)));
        Rig rig({});
        rig.service.setFallback(ok());
        PlanFetcherEnvironment environment = rig.environment();
        environment.credentials = std::make_shared<FileCredentialStore>(path);
        PlanUsageFetcher fetcher(environment);
        QTRY_COMPARE(fetcher.lastError(), std::optional(u"TOKEN EXPIRED"_s));
        QVERIFY(replaceFile(path, tokens(hour, u"renewed-access"_s)));
        QTRY_VERIFY(fetcher.planUsage().has_value() && !fetcher.lastError());
        QCOMPARE(rig.service.requests().size(), 1);
        QCOMPARE(rig.service.requests()[0].header("Authorization"), QByteArray("Bearer renewed-access"));
    }

    // The first unexpected failure of a kind is a warning; its repeats are not.
    void unreadableLoginWarnsOnce()
    {
        Rig rig({{Outcome::failed, {}, u"Permission denied"_s}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Permission denied"_s));
        PlanUsageFetcher fetcher(rig.environment());
        QVERIFY(finish(fetcher.fetchUsage()));
        QTest::failOnWarning(QRegularExpression(u"Permission denied"_s));
        rig.clock->fetch_add(31 * 1000);
        QVERIFY(finish(fetcher.fetchUsage()));
        QCOMPARE(fetcher.lastFailure()->detail, u"Permission denied"_s);
    }

    // While Claude Code's status line supplies the figures, neither the login nor the service is touched.
    void serviceOffNeverFetches()
    {
        Rig rig({});
        PlanUsageFetcher fetcher(rig.environment());
        fetcher.setServiceEnabled(false); // before the launch fetch, as the app does
        QSignalSpy failures(&fetcher, &PlanUsageFetcher::lastErrorChanged);
        QSignalSpy ticks(&fetcher, &PlanUsageFetcher::ticked);
        QVERIFY(fetcher.fetchUsage().isFinished());
        QTRY_VERIFY(ticks.size() >= 5);
        QCOMPARE(failures.size(), 0); // a fetch without a login would have failed with NO TOKEN
        QVERIFY(rig.requests().isEmpty());
        fetcher.setServiceEnabled(true);
        QTRY_COMPARE(fetcher.lastError(), std::optional(u"NO TOKEN"_s));
    }

    // A fetch waiting between attempts is stopped when its fetcher goes away.
    void destroyingTheFetcherStopsItsFetch()
    {
        Rig rig({found(tokens(hour))});
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

    // A keychain prompt nobody answers does not hold the fetcher's end (nor quitting); the
    // fetch finishes later into nothing.
    void unansweredKeychainPromptDoesNotBlock()
    {
        Rig rig({});
        auto keychain = std::make_shared<PromptingStore>();
        PlanFetcherEnvironment environment = rig.environment();
        environment.credentials = keychain;
        auto fetcher = std::make_unique<PlanUsageFetcher>(environment);
        const QFuture<void> future = fetcher->fetchUsage();
        QTRY_VERIFY(keychain->asked.load());
        fetcher.reset();
        QVERIFY(!future.isFinished());
        keychain->answer.set_value();
        QTRY_VERIFY(future.isFinished());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_GUILESS_MAIN(TestPlanFetcher)
#include "tst_planfetcher.moc"
