#include "benchcommands.h"
#include "claudedatadir.h"
#include "credentialstore.h"
#include "planrules.h"
#include "planusage.h"
#include "planusagefetcher.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstring>

// plan HOME [--usage-url URL] [--wait-scale F]: one fetch of the real fetcher against the given
// endpoint (or GLIMMEROX_USAGE_URL), printing each published change as it reaches the main
// thread. The endpoint must be on the loopback host. The login is only read, from HOME/.claude
// (or CLAUDE_CONFIG_DIR).

namespace {

int planUsageError(const char *message)
{
    std::fprintf(stderr, "plan: %s\nusage: plan HOME [--usage-url URL] [--wait-scale F]\n", message);
    return 2;
}

// A JSON number as QJsonDocument writes it (shortest form that reads back the same).
QByteArray jsonNumber(double value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonInstant(const std::optional<QDateTime> &instant)
{
    return instant ? QByteArray::number(instant->toMSecsSinceEpoch()) : QByteArray("null");
}

QByteArray jsonNumberOrNull(std::optional<double> value)
{
    return value ? jsonNumber(*value) : QByteArray("null");
}

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// Members in a fixed order, so the lines read the same on every run.
QByteArray planUsageLine(const std::optional<PlanUsage> &usage)
{
    if (!usage)
        return R"({"planUsage":null})";
    const auto percent = [](std::optional<qint64> value) {
        return value ? QByteArray::number(*value) : QByteArray("null");
    };
    return R"({"planUsage":{"sessionUtilization":)" + jsonNumberOrNull(usage->fiveHourUtilization)
        + R"(,"sessionResetsAtMs":)" + jsonInstant(usage->fiveHourResetsAt)
        + R"(,"weeklyUtilization":)" + jsonNumberOrNull(usage->weeklyUtilization)
        + R"(,"weeklyResetsAtMs":)" + jsonInstant(usage->weeklyResetsAt)
        + R"(,"sessionPercent":)" + percent(usage->fiveHourPercent())
        + R"(,"weeklyPercent":)" + percent(usage->weeklyPercent())
        + R"(,"session":)" + jsonString(usage->resetTimerString(false))
        + R"(,"weekly":)" + jsonString(usage->resetTimerString(true))
        + R"(,"weeklyScope":)" + (usage->weeklyScope ? jsonString(*usage->weeklyScope) : QByteArray("null"))
        + R"(,"fetchedAtMs":)" + jsonInstant(usage->fetchedAt.isValid() ? std::optional(usage->fetchedAt)
                                                                         : std::nullopt)
        + "}}";
}

void printLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Held to the same loopback rule as the environment overrides.
std::optional<QUrl> endpoint(const char *text)
{
    const QUrl url = PlanRules::endpoint(QUrl(), QString::fromLocal8Bit(text), nullptr);
    return url.isEmpty() ? std::nullopt : std::optional(url);
}

} // namespace

int benchPlan(int argc, char **argv)
{
    const char *home = nullptr;
    std::optional<QUrl> usageURL;
    double waitScale = 1;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--usage-url") == 0 && hasValue) {
            if (!(usageURL = endpoint(argv[++i])))
                return planUsageError("--usage-url needs an http or https URL on 127.0.0.1, ::1 or localhost");
        } else if (std::strcmp(argv[i], "--wait-scale") == 0 && hasValue) {
            char *end = nullptr;
            waitScale = std::strtod(argv[++i], &end);
            if (*end != '\0' || !std::isfinite(waitScale) || waitScale < 0 || waitScale > 1000)
                return planUsageError("--wait-scale needs a number from 0 to 1000");
        } else if (argv[i][0] != '-' && !home) {
            home = argv[i];
        } else {
            return planUsageError("unexpected argument");
        }
    }
    if (!home)
        return planUsageError("HOME is required");

    QCoreApplication application(argc, argv);
    PlanFetcherEnvironment environment = PlanFetcherEnvironment::system();
    if (usageURL)
        environment.usageURL = *usageURL;
    const QString claudeDir =
        claudeDataDirectory(QString::fromLocal8Bit(home), qEnvironmentVariable("CLAUDE_CONFIG_DIR"));
    environment.credentials = std::make_shared<FileCredentialStore>(claudeDir + QStringLiteral("/.credentials.json"));
    environment.sleep = [realSleep = environment.sleep, waitScale](std::chrono::milliseconds wait,
                                                                    std::stop_token stop) {
        realSleep(std::chrono::milliseconds(std::llround(double(wait.count()) * waitScale)), std::move(stop));
    };

    PlanUsageFetcher fetcher(environment);
    QObject::connect(&fetcher, &PlanUsageFetcher::isFetchingChanged, [&] {
        printLine(fetcher.isFetching() ? R"({"isFetching":true})" : R"({"isFetching":false})");
    });
    QObject::connect(&fetcher, &PlanUsageFetcher::lastErrorChanged, [&] {
        const std::optional<QString> error = fetcher.lastError();
        printLine(R"({"lastError":)" + (error ? jsonString(*error) : QByteArray("null")) + "}");
    });
    QObject::connect(&fetcher, &PlanUsageFetcher::planUsageChanged,
                     [&] { printLine(planUsageLine(fetcher.planUsage())); });

    // Every change is queued before the future finishes, so they are all printed before the
    // watcher's own queued notice arrives.
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    watcher.setFuture(fetcher.fetchUsage());
    return application.exec();
}
