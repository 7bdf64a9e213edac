#include "benchcommands.h"
#include "cachedusagereport.h"
#include "claudedatadir.h"
#include "claudestatsreader.h"
#include "historychart.h"
#include "historychartpainter.h"
#include "historystore.h"
#include "panelcontent.h"
#include "panellayout.h"
#include "panelpainter.h"
#include "paneltooltip.h"
#include "promptcacheview.h"
#include "trayicon.h"
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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    std::fprintf(stderr, "render: %s\nusage: render HOME OUT.png|--tooltip AREA|--describe|--history OUT.png [--mode session|plan] "
                         "[--weekly] [--step N] [--dpr N] [--report FILE] [--report-age MINUTES] [--failure REASON[:DETAIL]] [--fetching]\n"
                         "       [--samples FOLDER] [--status-line-only] [--state FOLDER] [--size WIDTHxHEIGHT] [--tray SIZE]\n"
                         "areas: main small quotas session active cache error fivehour sevenday k1 k2 op\n"
                         "reasons: no-token expired unreadable:TEXT keychain-denied:TEXT rate-limited bad-reply http:STATUS "
                         "timed-out transport:TEXT (rate-limited:MINUTES until the next try)\n",
                 message);
    return 2;
}

const std::pair<const char *, PanelArea> describedAreas[] = {
    {"main", PanelArea::main},         {"small", PanelArea::small},       {"quotas", PanelArea::quotas},
    {"session", PanelArea::session},   {"active", PanelArea::active},     {"cache", PanelArea::cache},
    {"error", PanelArea::error},
    {"fivehour", PanelArea::fiveHour}, {"sevenday", PanelArea::sevenDay}, {"k1", PanelArea::k1},
    {"k2", PanelArea::k2},             {"op", PanelArea::op},             {"project", PanelArea::project}};

std::optional<PanelArea> areaNamed(const QByteArray &name)
{
    for (const auto &[text, area] : describedAreas)
        if (name == text)
            return area;
    return std::nullopt;
}

QJsonValue isoTime(const std::optional<QDateTime> &time)
{
    return time && time->isValid() ? QJsonValue(time->toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QString sourceName(PlanSource source)
{
    switch (source) {
    case PlanSource::statusLine: return QStringLiteral("statusLine");
    case PlanSource::cachedReport: return QStringLiteral("cachedReport");
    case PlanSource::usageService: return QStringLiteral("usageService");
    }
    return {};
}

// What the panel would show for these inputs, as one JSON object: the displays, captions, LEDs
// (a fetch blinks the shown window's), every area's tooltip and the plan's windows.
QJsonObject describePanel(const PanelInputs &inputs)
{
    PanelInputs lit = inputs;
    lit.blinkOn = true;
    PanelInputs dark = inputs;
    dark.blinkOn = false;
    const PanelContent content = computePanelContent(lit);
    const PanelContent blinkOff = computePanelContent(dark);
    // A shown window that runs out before its reset blinks its LED slowly, on the clock's seconds.
    const bool runsOut = shownRunOut(inputs).has_value() && !inputs.isFetching;
    const Led shownWindowLed = inputs.state.alternateView ? Led::sevenDay : Led::fiveHour;
    QJsonObject leds;
    for (int i = 0; i < ledCount; ++i) {
        const bool on = content.leds[i];
        // The cache LED blinks on the clock's seconds in its last minute, not with a fetch.
        const bool blinks = on != blinkOff.leds[i] || (runsOut && Led(i) == shownWindowLed)
            || (Led(i) == Led::cache
                && promptCacheState(inputs.promptCache, inputs.promptCacheSentAt, inputs.now)
                    == PromptCacheState::lastMinute);
        leds.insert(ledLabel(Led(i)), blinks ? QStringLiteral("blinking")
                                      : on                   ? QStringLiteral("lit")
                                                             : QStringLiteral("off"));
    }
    QJsonObject keys;
    for (int i = 0; i < keyCount; ++i)
        keys.insert(keyLabel(Key(i)), content.keys[i] ? QStringLiteral("lit") : QStringLiteral("off"));
    QJsonObject tooltips;
    for (const auto &[name, area] : describedAreas)
        tooltips.insert(QLatin1String(name), panelTooltip(inputs, area));
    QJsonArray windows;
    const std::optional<PlanWindow> shown = shownPlanWindow(inputs);
    if (inputs.planUsage) {
        for (const PlanWindow &w : inputs.planUsage->shownWindows()) {
            const std::optional<Pace> pace = recentPace(inputs, w);
            windows.append(QJsonObject{{QStringLiteral("key"), w.key()},
                                       {QStringLiteral("name"), w.name()},
                                       {QStringLiteral("percent"), w.hasReset(inputs.now) ? 0 : w.percent()},
                                       {QStringLiteral("utilization"), w.utilization},
                                       {QStringLiteral("resetsAt"), isoTime(w.resetsAt)},
                                       {QStringLiteral("resetPassed"), w.hasReset(inputs.now)},
                                       {QStringLiteral("source"), sourceName(w.source)},
                                       {QStringLiteral("asOf"), isoTime(w.asOf)},
                                       {QStringLiteral("binding"), w.binding},
                                       {QStringLiteral("pace"), pace ? QJsonValue(paceSentence(*pace, inputs.now)) : QJsonValue()},
                                       {QStringLiteral("shown"), shown && shown->key() == w.key()}});
        }
    }
    const QString mainText =
        content.mainKind == MainStripKind::number ? QString::number(content.mainValue) : content.mainText;
    return {{QStringLiteral("command"), QStringLiteral("render")},
            {QStringLiteral("mode"), inputs.state.mode == DisplayMode::plan ? QStringLiteral("plan") : QStringLiteral("session")},
            {QStringLiteral("weekly"), inputs.state.alternateView},
            {QStringLiteral("main"), QJsonObject{{QStringLiteral("text"), mainText}, {QStringLiteral("dimmed"), content.mainDimmed}}},
            {QStringLiteral("small"), QJsonObject{{QStringLiteral("text"), content.smallValue},
                                                  {QStringLiteral("suffix"), content.smallSuffix},
                                                  {QStringLiteral("dimmed"), content.smallDimmed}}},
            {QStringLiteral("label"), content.mainLabels.join(QLatin1Char(' '))},
            {QStringLiteral("captions"), QJsonObject{{QStringLiteral("main"), QJsonArray::fromStringList(content.mainLabels)},
                                                     {QStringLiteral("small"), content.smallCaption}}},
            {QStringLiteral("project"), content.projectName},
            {QStringLiteral("leds"), leds},
            {QStringLiteral("keys"), keys},
            {QStringLiteral("tooltips"), tooltips},
            {QStringLiteral("windows"), windows},
            {QStringLiteral("error"), inputs.hasError()}};
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
    const bool describe = std::strcmp(argv[2], "--describe") == 0;
    if (describe)
        out.clear();
    if (std::strcmp(argv[2], "--tooltip") == 0) {
        if (argc < 4 || !(tooltip = areaNamed(argv[3])))
            return renderUsage("--tooltip needs one of the areas");
        out.clear();
        first = 4;
    }
    std::optional<int> traySize;
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
        } else if (std::strcmp(argv[i], "--step") == 0 && hasValue) {
            // 7-DAY pressed again this often: the weekly windows, credits and spend in turn.
            state.weeklyStep = std::max(0, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--dpr") == 0 && hasValue) {
            dpr = std::atof(argv[++i]);
            if (!(dpr > 0 && dpr <= 8))
                return renderUsage("--dpr is a ratio from above 0 to 8");
        } else if (std::strcmp(argv[i], "--tray") == 0 && hasValue) {
            traySize = std::atoi(argv[++i]);
            if (!(*traySize >= 8 && *traySize <= 512))
                return renderUsage("--tray is a size from 8 to 512 pixels");
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
        // Dated as the fetcher dates a report, so the small display dims by its age alone.
        inputs.planUsage = PlanUsageFetcher::parse(file.readAll(), now.addSecs(-60 * reportAgeMinutes));
        if (!inputs.planUsage) {
            std::fprintf(stderr, "render: %s is not a usage report\n", qPrintable(reportPath));
            return 1;
        }
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
    // Claude Code's cached report of each data directory, read as the app reads it.
    QHash<QString, QList<PlanWindow>> cachedReports;
    const QStringList dataDirectories = knownDataDirectories(
        home, configDirVariable, samplesFolder.isEmpty() ? QStringList() : sampleDataDirectories(samplesFolder, now));
    for (const QString &directory : dataDirectories) {
        const ReadResult config = readSmallFile(claudeConfigFile(directory, home), maxClaudeConfigBytes);
        if (config.ok()) {
            const CachedReportWindows cached = cachedReportWindows(config.data);
            if (!cached.windows.isEmpty())
                cachedReports.insert(dataDirectoryKey(directory), cached.windows);
        }
    }
    if (!samplesFolder.isEmpty() || statusLineOnly || !cachedReports.isEmpty()) {
        inputs = withStatusLine(inputs, samplesFolder.isEmpty() ? QList<DataDirectorySamples>() : SampleStore(samplesFolder).readAll(),
                                claudeDataDirectory(home, configDirVariable), !statusLineOnly, cachedReports);
    }
    if (!stateFolder.isEmpty()) {
        // The paces the app reads from the history of the login's data directory.
        const QList<HistoryRecord> records = HistoryStore(stateFolder).read(claudeDataDirectory(home, configDirVariable));
        inputs.paces = windowPaces(records, now);
    }
    if (describe) {
        std::printf("%s\n", QJsonDocument(describePanel(inputs)).toJson(QJsonDocument::Compact).constData());
        return 0;
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

    if (traySize) {
        const std::optional<qint64> figure = trayFigure(inputs);
        if (!figure || !trayIconImage(*figure, *traySize).save(out, "PNG"))
            return renderUsage(figure ? "cannot write the picture" : "the shown mode has no figure for the tray");
        std::printf("{\"command\":\"render\",\"out\":\"%s\",\"tray\":%d,\"figure\":%lld}\n", qPrintable(out),
                    *traySize, qlonglong(*figure));
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
