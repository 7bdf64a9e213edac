#include "benchcommands.h"
#include "claudedatadir.h"
#include "claudestatsreader.h"
#include "historychart.h"
#include "historychartpainter.h"
#include "historystore.h"
#include "panelcontent.h"
#include "panellayout.h"
#include "panelpainter.h"
#include "paneltooltip.h"
#include "panelwindow.h"
#include "planusagefetcher.h"
#include "samplestore.h"
#include "statuslineplan.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

// panel: full paints of the four panel states at ratio 2.
// idle SECONDS: the real window with both sources live on an empty home, CPU and memory used.
// render HOME OUT.png [...]: one picture of the panel for a data directory and a plan report,
// and the status-line samples of a runtime folder (--samples; --status-line-only as with the
// bridge installed). render HOME --history OUT.png [...]: the history chart of the shown
// session's data directory, from the history in a state folder (--state, which also gives the
// panel and its tooltips the plan windows' pace).

namespace {

void useOffscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// A plan report whose windows reset 2 h 5 min and 3 d 4 h 5 min from now.
PlanUsage sampleReport(const QDateTime &now)
{
    PlanUsage usage;
    usage.fiveHourUtilization = 42;
    usage.fiveHourResetsAt = now.addSecs(2 * 3600 + 5 * 60 + 30);
    usage.weeklyUtilization = 67;
    usage.weeklyResetsAt = now.addSecs(3 * 86400 + 4 * 3600 + 5 * 60 + 30);
    return usage;
}

struct Rusage
{
    double cpuSeconds = 0;
    double peakMiB = 0;
};

Rusage resourceUsage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
#ifdef Q_OS_MACOS
    const double peakBytes = double(usage.ru_maxrss);
#else
    const double peakBytes = double(usage.ru_maxrss) * 1024;
#endif
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), peakBytes / (1024 * 1024)};
}

// Waits for the reader's first published cycle, or gives up after a while.
void waitForFirstCycle(ClaudeStatsReader &reader)
{
    QEventLoop loop;
    QObject::connect(&reader, &ClaudeStatsReader::sessionStatsChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
}

int renderUsage(const char *message)
{
    std::fprintf(stderr, "render: %s\nusage: render HOME OUT.png|--tooltip AREA|--history OUT.png [--mode session|plan] [--weekly] "
                         "[--dpr N] [--report FILE] [--report-age MINUTES] [--failure REASON[:DETAIL]] [--fetching]\n"
                         "       [--samples FOLDER] [--status-line-only] [--state FOLDER] [--size WIDTHxHEIGHT]\n"
                         "areas: main small quotas session active error fivehour sevenday k1 k2 op\n"
                         "reasons: no-token expired unreadable:TEXT keychain-denied:TEXT rate-limited bad-reply http:STATUS "
                         "timed-out transport:TEXT (rate-limited:MINUTES until the next try)\n",
                 message);
    return 2;
}

std::optional<PanelArea> areaNamed(const QByteArray &name)
{
    static const std::pair<const char *, PanelArea> areas[] = {
        {"main", PanelArea::main},         {"small", PanelArea::small},     {"quotas", PanelArea::quotas},
        {"session", PanelArea::session},   {"active", PanelArea::active},   {"error", PanelArea::error},
        {"fivehour", PanelArea::fiveHour}, {"sevenday", PanelArea::sevenDay}, {"k1", PanelArea::k1},
        {"k2", PanelArea::k2},             {"op", PanelArea::op},             {"project", PanelArea::project}};
    for (const auto &[text, area] : areas)
        if (name == text)
            return area;
    return std::nullopt;
}

// "http:500", "rate-limited:15", "transport:Connection refused", ... as the fetcher would publish it.
std::optional<PlanFailure> failureNamed(const QByteArray &argument, const QDateTime &now)
{
    static const std::pair<const char *, PlanFailureReason> reasons[] = {
        {"no-token", PlanFailureReason::noToken},
        {"expired", PlanFailureReason::tokenExpired},
        {"unreadable", PlanFailureReason::credentialsUnreadable},
        {"keychain-denied", PlanFailureReason::keychainDenied},
        {"rate-limited", PlanFailureReason::rateLimited}, {"bad-reply", PlanFailureReason::badReply},
        {"http", PlanFailureReason::httpStatus},          {"timed-out", PlanFailureReason::timedOut},
        {"transport", PlanFailureReason::transport}};
    const qsizetype colon = argument.indexOf(':');
    const QByteArray name = colon < 0 ? argument : argument.left(colon);
    const QByteArray detail = colon < 0 ? QByteArray() : argument.mid(colon + 1);
    for (const auto &[text, reason] : reasons) {
        if (name != text)
            continue;
        PlanFailure failure;
        failure.reason = reason;
        if (reason == PlanFailureReason::transport || reason == PlanFailureReason::credentialsUnreadable
            || reason == PlanFailureReason::keychainDenied) {
            failure.detail = QString::fromLocal8Bit(detail);
        } else if (reason == PlanFailureReason::httpStatus) {
            failure.httpStatus = detail.toInt();
            failure.retryAt = now.addSecs(5 * 60);
        } else if (reason == PlanFailureReason::rateLimited) {
            failure.retryAt = now.addSecs(60 * (detail.isEmpty() ? 15 : detail.toInt()));
        }
        return failure;
    }
    return std::nullopt;
}

} // namespace

int benchPanel(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    const PanelLayout layout = PanelLayout::compute(PanelFonts::system());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    PanelInputs inputs;
    inputs.sessionStats = {48211077, 152301, 2488, 200000, QStringLiteral("bench"),
                           QStringLiteral("/home/ana/glimmerox"), QStringLiteral("claude-opus-4-6"), {}, 0};
    inputs.activeSessions = {ActiveSession{}, ActiveSession{}};
    inputs.now = now;
    const auto stateOf = [&](DisplayMode mode, bool alternate) {
        PanelInputs in = inputs;
        in.state = {mode, alternate};
        if (mode == DisplayMode::plan)
            in.planUsage = sampleReport(now);
        return computePanelContent(in);
    };
    const PanelContent states[] = {
        stateOf(DisplayMode::session, false),
        stateOf(DisplayMode::session, true),
        stateOf(DisplayMode::plan, false),
        stateOf(DisplayMode::plan, true),
    };
    constexpr qreal dpr = 2;
    constexpr int repeats = 300;
    QImage target(QSize(int(PanelLayout::width * dpr), int(PanelLayout::height * dpr)),
                  QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(dpr);
    PanelPaintCache cache;

    const auto paintOnce = [&](const PanelContent &content) {
        target.fill(Qt::transparent);
        QPainter painter(&target);
        paintPanel(painter, layout, content, cache);
    };

    QElapsedTimer timer;
    timer.start();
    for (const PanelContent &content : states)
        paintOnce(content); // the first paint of each state renders its layers and blurs
    const double coldMs = double(timer.nsecsElapsed()) / 1e6 / 4;

    QByteArray perState;
    double totalMs = 0;
    for (int s = 0; s < 4; ++s) {
        timer.restart();
        for (int i = 0; i < repeats; ++i)
            paintOnce(states[s]);
        const double ms = double(timer.nsecsElapsed()) / 1e6 / repeats;
        totalMs += ms;
        perState += (s ? "," : "") + QByteArray::number(ms, 'f', 3);
    }
    std::printf("{\"command\":\"panel\",\"dpr\":%g,\"paintsPerState\":%d,\"msPerPaint\":%.3f,"
                "\"msPerPaintByState\":[%s],\"msFirstPaint\":%.3f,\"cachedLayers\":%lld}\n",
                dpr, repeats, totalMs / 4, perState.constData(), coldMs, qlonglong(cache.size()));
    return 0;
}

int benchIdle(int argc, char **argv)
{
    if (argc < 2)
        return std::fprintf(stderr, "usage: idle SECONDS\n"), 2;
    const double seconds = std::atof(argv[1]);
    if (!(seconds > 0))
        return std::fprintf(stderr, "idle: SECONDS must be positive\n"), 2;

    QApplication app(argc, argv);
    QTemporaryDir home;
    QDir().mkpath(home.filePath(QStringLiteral(".claude")));
    PlanFetcherEnvironment env = PlanFetcherEnvironment::system();
    env.credentials = std::make_shared<FileCredentialStore>(home.filePath(QStringLiteral(".claude/.credentials.json")));
    ClaudeStatsReader reader(home.filePath(QStringLiteral(".claude")));
    PlanUsageFetcher fetcher(env);
    PanelWindow window(reader, fetcher);
    window.show();

    const Rusage before = resourceUsage();
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    const Rusage after = resourceUsage();
    const double cpu = after.cpuSeconds - before.cpuSeconds;
    std::printf("{\"command\":\"idle\",\"platform\":\"%s\",\"seconds\":%g,\"cpuSeconds\":%.3f,"
                "\"cpuPercentOfOneCore\":%.3f,\"peakResidentMiB\":%.1f}\n",
                qPrintable(QGuiApplication::platformName()), seconds, cpu, 100 * cpu / seconds, after.peakMiB);
    return 0;
}

int benchRender(int argc, char **argv)
{
    if (argc < 3)
        return renderUsage("HOME and OUT.png are required");
    const QString home = QString::fromLocal8Bit(argv[1]);
    QString out = QString::fromLocal8Bit(argv[2]);
    int first = 3;
    std::optional<PanelArea> tooltip;
    if (std::strcmp(argv[2], "--tooltip") == 0) {
        if (argc < 4 || !(tooltip = areaNamed(argv[3])))
            return renderUsage("--tooltip needs one of the areas");
        out.clear();
        first = 4;
    }
    const bool history = std::strcmp(argv[2], "--history") == 0;
    if (history) {
        if (argc < 4)
            return renderUsage("--history needs OUT.png");
        out = QString::fromLocal8Bit(argv[3]);
        first = 4;
    }
    QString stateFolder;
    QSizeF historySize = HistoryChartLayout::defaultSize;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    PanelState state;
    qreal dpr = 2;
    QString reportPath;
    qint64 reportAgeMinutes = 0;
    std::optional<PlanFailure> failure;
    bool fetching = false;
    bool pinned = false;
    QString samplesFolder;
    bool statusLineOnly = false;
    for (int i = first; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--report-age") == 0 && hasValue) {
            reportAgeMinutes = QByteArray(argv[++i]).toLongLong();
        } else if (std::strcmp(argv[i], "--failure") == 0 && hasValue) {
            if (!(failure = failureNamed(argv[++i], now)))
                return renderUsage("unknown failure reason");
        } else if (std::strcmp(argv[i], "--fetching") == 0) {
            fetching = true;
        } else if (std::strcmp(argv[i], "--pinned") == 0) {
            pinned = true;
        } else if (std::strcmp(argv[i], "--samples") == 0 && hasValue) {
            samplesFolder = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--state") == 0 && hasValue) {
            stateFolder = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--size") == 0 && hasValue) {
            const QList<QByteArray> sides = QByteArray(argv[++i]).split('x');
            historySize = sides.size() == 2 ? QSizeF(sides[0].toDouble(), sides[1].toDouble()) : QSizeF();
            if (!(historySize.width() > 0 && historySize.height() > 0 && historySize.width() <= 8000 && historySize.height() <= 8000))
                return renderUsage("--size is WIDTHxHEIGHT");
        } else if (std::strcmp(argv[i], "--status-line-only") == 0) {
            statusLineOnly = true;
        } else if (std::strcmp(argv[i], "--mode") == 0 && hasValue) {
            const QByteArray mode = argv[++i];
            if (mode != "session" && mode != "plan")
                return renderUsage("--mode is session or plan");
            state.mode = mode == "plan" ? DisplayMode::plan : DisplayMode::session;
        } else if (std::strcmp(argv[i], "--weekly") == 0) {
            state.alternateView = true;
        } else if (std::strcmp(argv[i], "--dpr") == 0 && hasValue) {
            dpr = std::atof(argv[++i]);
            if (!(dpr > 0 && dpr <= 8))
                return renderUsage("--dpr is a ratio from above 0 to 8");
        } else if (std::strcmp(argv[i], "--report") == 0 && hasValue) {
            reportPath = QString::fromLocal8Bit(argv[++i]);
        } else {
            return renderUsage("unknown option");
        }
    }

    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    PanelInputs inputs;
    inputs.state = state;
    inputs.now = now;
    // The data directories the app would read: ~/.claude, CLAUDE_CONFIG_DIR and those the samples name.
    const QString configDirVariable = qEnvironmentVariable("CLAUDE_CONFIG_DIR");
    ClaudeStatsReader reader(home, configDirVariable, [samplesFolder, now] {
        return samplesFolder.isEmpty() ? QStringList() : sampleDataDirectories(samplesFolder, now);
    });
    waitForFirstCycle(reader);
    inputs.sessionStats = reader.sessionStats();
    inputs.activeSessions = reader.activeSessions();
    if (inputs.sessionStats.cwd.isEmpty() && !inputs.activeSessions.isEmpty()) {
        // A reader that does not name its session yet: take the newest record's, so the picture
        // still shows a project.
        const ActiveSession newest = *std::max_element(
            inputs.activeSessions.cbegin(), inputs.activeSessions.cend(),
            [](const ActiveSession &a, const ActiveSession &b) { return a.startedAt < b.startedAt; });
        inputs.sessionStats.cwd = newest.cwd;
        inputs.sessionStats.sessionId = newest.sessionId;
    }
    if (!reportPath.isEmpty()) {
        QFile file(reportPath);
        if (!file.open(QIODevice::ReadOnly))
            return renderUsage("cannot read the report");
        inputs.planUsage = PlanUsageFetcher::parse(file.readAll());
        if (!inputs.planUsage) {
            std::fprintf(stderr, "render: %s is not a usage report\n", qPrintable(reportPath));
            return 1;
        }
        inputs.planUsage->fetchedAt = now.addSecs(-60 * reportAgeMinutes);
    }
    inputs.isFetching = fetching;
    if (pinned)
        inputs.pinnedSessionId = inputs.sessionStats.sessionId;
    if (failure) {
        inputs.lastFailure = failure;
        inputs.lastError = failure->code();
        inputs.credentialLocation = QDir(home).filePath(QStringLiteral(".claude/.credentials.json"));
        inputs.nextFetchAt = failure->retryAt;
    }
    if (!samplesFolder.isEmpty() || statusLineOnly) {
        inputs = withStatusLine(inputs, SampleStore(samplesFolder).readAll(),
                                claudeDataDirectory(home, configDirVariable), !statusLineOnly);
    }
    if (!stateFolder.isEmpty()) {
        // The paces the app reads from the history of the login's data directory.
        const QList<HistoryRecord> records = HistoryStore(stateFolder).read(claudeDataDirectory(home, configDirVariable));
        const std::optional<QString> scope = inputs.planUsage ? inputs.planUsage->weeklyScope : std::nullopt;
        inputs.fiveHourPace = windowPace(records, HistoryKey::fiveHour, now);
        inputs.weeklyPace = windowPace(records, scope ? HistoryKey::sevenDayOf(*scope) : HistoryKey::sevenDay, now);
    }
    if (tooltip) {
        std::printf("%s\n", qPrintable(panelTooltip(inputs, *tooltip)));
        return 0;
    }
    if (history) {
        const HistorySeries series = loadHistorySeries(stateFolder.isEmpty() ? HistoryStore::defaultFolder() : stateFolder,
                                                       inputs.sessionStats,
                                                       claudeDataDirectory(home, configDirVariable), now);
        const HistoryChartLayout layout = HistoryChartLayout::compute(historySize);
        const QImage image = renderHistoryChart(layout, series, dpr);
        if (!image.save(out, "PNG"))
            return renderUsage("cannot write the picture");
        std::printf("{\"command\":\"render\",\"history\":\"%s\",\"width\":%d,\"height\":%d,\"windows\":%lld,"
                    "\"contextPoints\":%lld,\"dataDirectory\":\"%s\"}\n",
                    qPrintable(out), image.width(), image.height(), qlonglong(series.quotas.size()),
                    qlonglong(series.context.points.size()), qPrintable(series.dataDirectory));
        return 0;
    }

    PanelPaintCache cache;
    const QImage image = renderPanel(PanelLayout::compute(PanelFonts::system()), computePanelContent(inputs), dpr, cache);
    if (!image.save(out, "PNG"))
        return renderUsage("cannot write the picture");
    std::printf("{\"command\":\"render\",\"out\":\"%s\",\"width\":%d,\"height\":%d,\"mode\":\"%s\",\"weekly\":%s,"
                "\"sessions\":%lld,\"project\":\"%s\"}\n",
                qPrintable(out), image.width(), image.height(),
                state.mode == DisplayMode::plan ? "plan" : "session", state.alternateView ? "true" : "false",
                qlonglong(inputs.activeSessions.size()), qPrintable(projectName(inputs.sessionStats.cwd)));
    return 0;
}
