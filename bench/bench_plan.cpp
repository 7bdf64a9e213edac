#include "benchcommands.h"
#include "credentialstore.h"
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

// plan HOME --usage-url URL --token-url URL [--wait-scale F]: one fetch of the real fetcher
// against the given endpoints, printing each published change as it reaches the main thread.

namespace {

int planUsageError(const char *message)
{
    std::fprintf(stderr, "plan: %s\nusage: plan HOME --usage-url URL --token-url URL [--wait-scale F]\n", message);
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
    return R"({"planUsage":{"sessionUtilization":)" + jsonNumber(usage->fiveHourUtilization.value_or(0))
        + R"(,"sessionResetsAtMs":)" + jsonInstant(usage->fiveHourResetsAt)
        + R"(,"weeklyUtilization":)" + jsonNumber(usage->weeklyUtilization.value_or(0))
        + R"(,"weeklyResetsAtMs":)" + jsonInstant(usage->weeklyResetsAt)
        + R"(,"sessionPercent":)" + QByteArray::number(usage->fiveHourPercent().value_or(0))
        + R"(,"weeklyPercent":)" + QByteArray::number(usage->weeklyPercent().value_or(0))
        + R"(,"session":)" + jsonString(usage->resetTimerString(false))
        + R"(,"weekly":)" + jsonString(usage->resetTimerString(true)) + "}}";
}

void printLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::optional<QUrl> endpoint(const char *text)
{
    const QUrl url(QString::fromLocal8Bit(text), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return std::nullopt;
    return url;
}

} // namespace

int benchPlan(int argc, char **argv)
{
    const char *home = nullptr;
    std::optional<QUrl> usageURL;
    std::optional<QUrl> tokenURL;
    double waitScale = 1;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--usage-url") == 0 && hasValue) {
            if (!(usageURL = endpoint(argv[++i])))
                return planUsageError("--usage-url needs an http or https URL");
        } else if (std::strcmp(argv[i], "--token-url") == 0 && hasValue) {
            if (!(tokenURL = endpoint(argv[++i])))
                return planUsageError("--token-url needs an http or https URL");
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
    if (!home || !usageURL || !tokenURL)
        return planUsageError("HOME, --usage-url and --token-url are required");

    QCoreApplication application(argc, argv);
    PlanFetcherEnvironment environment = PlanFetcherEnvironment::system();
    environment.usageURL = *usageURL;
    environment.tokenURL = *tokenURL;
    environment.credentials = std::make_shared<FileCredentialStore>(QString::fromLocal8Bit(home)
                                                                    + QStringLiteral("/.claude/.credentials.json"));
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
