#include "aboutbox.h"
#include "appidentity.h"
#include "appmenu.h"
#include "claudedatadir.h"
#include "claudestatsreader.h"
#include "contentview.h"
#include "desktopnotifier.h"
#include "notificationsaction.h"
#include "historychart.h"
#include "historystore.h"
#include "historywindow.h"
#include "panelwindow.h"
#include "paneltray.h"
#include "planhistory.h"
#include "planusagefetcher.h"
#include "cachedusagereport.h"
#include "claudedatadir.h"
#include "samplestore.h"
#include "singleinstance.h"
#include "startatlogin.h"
#include "startup.h"
#include "statuslineaction.h"
#include "statuslinesamples.h"
#include "statuslinesettings.h"
#include "usagenotifications.h"
#include "windowbehaviour.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

QStringList argumentList(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {32, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/glimmerox-%1.png").arg(size));
    return icon;
}

} // namespace

int main(int argc, char **argv)
{
    // --version and --help answer before anything needs a display.
    const StartupRequest request = parseCommandLine(argumentList(argc, argv), QStringLiteral(GLIMMEROX_VERSION));
    if (request.action == StartupRequest::Action::printText) {
        std::fputs(request.text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (const std::optional<QByteArray> platform = preferredPlatform(QProcessEnvironment::systemEnvironment()))
        qputenv("QT_QPA_PLATFORM", *platform);
    if (!hasDisplay(QProcessEnvironment::systemEnvironment(), argumentList(argc, argv))) {
        std::fputs(noDisplayMessage, stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Glimmerox"));
    QApplication::setApplicationVersion(QStringLiteral(GLIMMEROX_VERSION));
    QApplication::setDesktopFileName(desktopFileId());
    QApplication::setWindowIcon(applicationIcon());
    QApplication::setQuitOnLastWindowClosed(true);

    SingleInstance instance(SingleInstance::userServerName(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath()));
    switch (instance.claim()) {
    case SingleInstance::Claim::started:
        break;
    case SingleInstance::Claim::activated:
        return 0;
    case SingleInstance::Claim::notAnswering:
        std::fputs(SingleInstance::notAnsweringMessage, stderr);
        return 0;
    }

    // Both sources exist, and have started their own timers, before the event loop runs.
    // Claude Code's status line: plan figures without the login, the sessions' window sizes, and
    // the data directories of every account that ran Claude Code lately.
    const QString statusLineFolder = SampleStore::defaultFolder();
    StatusLineSamples statusLineSamples;
    ClaudeStatsReader statsReader([statusLineFolder] {
        return sampleDataDirectories(statusLineFolder, QDateTime::currentDateTimeUtc());
    });
    // A sample may name a data directory the reader has not read yet.
    QObject::connect(&statusLineSamples, &StatusLineSamples::samplesChanged, &statsReader, &ClaudeStatsReader::refresh);
    PlanUsageFetcher planFetcher(PlanFetcherEnvironment::system());
    const QString claudeDir = claudeDataDirectory();

    // Claude Code's cached usage report of every account the samples name, then the service.
    CachedUsageReports cachedReports(QDir::homePath());
    const auto followDataDirectories = [&cachedReports, &statusLineSamples] {
        cachedReports.setDataDirectories(knownDataDirectories(
            QDir::homePath(), qEnvironmentVariable("CLAUDE_CONFIG_DIR"),
            sampleDataDirectories(statusLineSamples.samples(), QDateTime::currentDateTimeUtc())));
    };
    followDataDirectories();
    QObject::connect(&statusLineSamples, &StatusLineSamples::samplesChanged, &cachedReports, followDataDirectories);

    PanelWindow panel(statsReader, planFetcher);
    panel.contentView()->setStatusLineSamples(&statusLineSamples, claudeDir);
    panel.contentView()->setCachedReports(&cachedReports);
    QObject::connect(&panel, &PanelWindow::aboutRequested, &panel, [&panel] { showAboutBox(&panel); });
    if (std::shared_ptr<LoginItem> loginItem = loginItemForCurrentUser()) {
        panel.addMenuAction(createStartAtLoginAction(std::move(loginItem), &panel, [&panel](const QString &reason) {
            auto *box = new QMessageBox(QMessageBox::Warning, QObject::tr("Start at Login"),
                                        QObject::tr("Start at Login could not be changed."), QMessageBox::Ok, &panel);
            box->setInformativeText(reason);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }));
    }
    const QString bridgePath = QCoreApplication::applicationDirPath() + QStringLiteral("/glimmerox-statusline");
    panel.addMenuAction(createStatusLineAction(StatusLineSettings::forCurrentUser(bridgePath), planFetcher, &panel));

    // History: the plan figures fetched here join the bridge's in the state folder; "History…"
    // (H) shows them with the shown session's context.
    const QString historyFolder = HistoryStore::defaultFolder();
    PlanHistoryRecorder planHistory(historyFolder, claudeDir);
    planHistory.compact();
    // One load runs at a time, so the cache passes from one to the next.
    const auto contextCache = std::make_shared<ContextTimelineCache>();
    HistoryWindow historyWindow([&panel, historyFolder, claudeDir, contextCache] {
        const SessionStats shown = panel.contentView()->inputs().sessionStats;
        return [historyFolder, claudeDir, shown, contextCache] {
            return loadHistorySeries(historyFolder, shown, claudeDir, QDateTime::currentDateTimeUtc(), contextCache.get());
        };
    });
    // The recent pace of the shown windows, read again whenever figures arrive and each minute.
    PlanPaceWatch paces(historyFolder);
    const auto refreshPaces = [&paces, claudeDir] { paces.refresh(claudeDir); };
    QObject::connect(&paces, &PlanPaceWatch::pacesChanged, &panel,
                     [&panel, &paces] { panel.contentView()->setPlanPaces(paces.paces()); });
    QObject::connect(&planFetcher, &PlanUsageFetcher::planUsageChanged, &paces, refreshPaces);
    QObject::connect(&statusLineSamples, &StatusLineSamples::samplesChanged, &paces, refreshPaces);
    QObject::connect(&cachedReports, &CachedUsageReports::reportsChanged, &paces, refreshPaces);
    QTimer paceTimer;
    paceTimer.callOnTimeout(&paces, refreshPaces);
    paceTimer.start(60 * 1000);
    refreshPaces();
    auto *showHistory = new QAction(QObject::tr("History…"), &panel);
    showHistory->setShortcut(QKeySequence(Qt::Key_H));
    QObject::connect(showHistory, &QAction::triggered, &historyWindow, &HistoryWindow::open);
    panel.addMenuAction(showHistory);
    panel.addAction(showHistory);

    auto *tray = new PanelTray(panel);
    // The tray shows what the panel shows; the plan figures reach it with the notifications below.
    const auto updateTray = [&] { tray->setFigures(panel.contentView()->inputs()); };
    QObject::connect(&statsReader, &ClaudeStatsReader::sessionStatsChanged, tray, updateTray);
    QObject::connect(&statsReader, &ClaudeStatsReader::activeSessionsChanged, tray, updateTray);
    // The mode may have changed since the figures did; hiding is the last moment it can.
    QObject::connect(&panel, &PanelWindow::hideRequested, tray, updateTray);
    QObject::connect(&instance, &SingleInstance::activationRequested, tray, &PanelTray::restorePanel);

    const std::unique_ptr<DesktopNotifier> notifier = systemNotifier();
    UsageNotifications notifications(*notifier);
    notifications.follow(statsReader, &statusLineSamples);
    panel.addMenuAction(createNotificationsAction(panel.settings(), notifications, &panel));
    // Every source's figures as the panel merges them, and once a second, so a reset that passes
    // while Claude Code is idle is noticed; the schedule waits while fresh figures need no login.
    const QString claudeDirKey = dataDirectoryKey(claudeDir);
    const auto observePlan = [&panel, &notifications, &planFetcher, &planHistory, &paces, tray, claudeDir, claudeDirKey] {
        const PanelInputs shown = panel.contentView()->inputs();
        planFetcher.setAutomaticFetchHeld(shown.noLoginFiguresFresh);
        // A reset that passes shows in the tray's figure too.
        tray->setFigures(shown);
        if (!shown.planUsage)
            return;
        notifications.observe(*shown.planUsage, shown.now,
                              paces.isRead() ? std::optional(paces.paces()) : std::nullopt);
        // The history kept here is the login's; another account's session brings its own figures.
        // The same name needs no look at the file system, which this would take every second.
        const QString &shownDir = shown.sessionStats.claudeDir;
        if (shownDir.isEmpty() || shownDir == claudeDir || dataDirectoryKey(shownDir) == claudeDirKey)
            planHistory.record(*shown.planUsage);
    };
    QObject::connect(&statusLineSamples, &StatusLineSamples::samplesChanged, &notifications, observePlan);
    QObject::connect(&cachedReports, &CachedUsageReports::reportsChanged, &notifications, observePlan);
    QObject::connect(&paces, &PlanPaceWatch::pacesChanged, &notifications, observePlan);
    QObject::connect(&planFetcher, &PlanUsageFetcher::ticked, &notifications, observePlan);
    QObject::connect(&planFetcher, &PlanUsageFetcher::planUsageChanged, &notifications, observePlan);

    installApplicationMenu(panel);
    keepPlatformWindowBehaviour(panel);
    panel.show();
    panel.raise();
    panel.activateWindow();
    return app.exec();
}
