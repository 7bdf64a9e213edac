#include "aboutbox.h"
#include "appmenu.h"
#include "claudedatadir.h"
#include "claudestatsreader.h"
#include "contentview.h"
#include "desktopnotifier.h"
#include "panelwindow.h"
#include "paneltray.h"
#include "planusagefetcher.h"
#include "sessionrecords.h"
#include "singleinstance.h"
#include "startatlogin.h"
#include "startup.h"
#include "statuslineaction.h"
#include "statuslinesamples.h"
#include "statuslinesettings.h"
#include "usagenotifications.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

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

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Glimmerox"));
    QApplication::setApplicationVersion(QStringLiteral(GLIMMEROX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("glimmerox"));
    QApplication::setWindowIcon(applicationIcon());
    QApplication::setQuitOnLastWindowClosed(true);

    SingleInstance instance(SingleInstance::userServerName());
    if (!instance.claim())
        return 0;

    // Both sources exist, and have started their own timers, before the event loop runs.
    const QString claudeDir = claudeDataDirectory();
    ClaudeStatsReader statsReader(claudeDir);
    PlanFetcherEnvironment fetcherEnvironment = PlanFetcherEnvironment::system();
    fetcherEnvironment.isClaudeCodeRunning = [claudeDir] { return hasLiveSession(claudeDir); };
    PlanUsageFetcher planFetcher(fetcherEnvironment);

    // Claude Code's status line: plan figures without the login, and the sessions' window sizes.
    StatusLineSamples statusLineSamples;

    PanelWindow panel(statsReader, planFetcher);
    panel.contentView()->setStatusLineSamples(&statusLineSamples, claudeDir);
    QObject::connect(&panel, &PanelWindow::aboutRequested, &panel, [&panel] { showAboutBox(&panel); });
    panel.addMenuAction(createStartAtLoginAction(StartAtLogin::forCurrentUser(), &panel));
    const QString bridgePath = QCoreApplication::applicationDirPath() + QStringLiteral("/glimmerox-statusline");
    panel.addMenuAction(createStatusLineAction(StatusLineSettings::forCurrentUser(bridgePath), planFetcher, &panel));

    auto *tray = new PanelTray(panel);
    // The tray shows what the panel shows: the plan figures of whichever source is newer.
    const auto updateTray = [&] {
        const PanelInputs shown = panel.contentView()->inputs();
        tray->setFigures(shown.sessionStats, shown.planUsage);
    };
    QObject::connect(&statsReader, &ClaudeStatsReader::sessionStatsChanged, tray, updateTray);
    QObject::connect(&planFetcher, &PlanUsageFetcher::planUsageChanged, tray, updateTray);
    QObject::connect(&statusLineSamples, &StatusLineSamples::samplesChanged, tray, updateTray);
    QObject::connect(&instance, &SingleInstance::activationRequested, tray, &PanelTray::restorePanel);

    const std::unique_ptr<DesktopNotifier> notifier = systemNotifier();
    UsageNotifications notifications(*notifier);
    notifications.follow(statsReader, planFetcher);
    QObject::connect(&statusLineSamples, &StatusLineSamples::samplesChanged, &notifications, [&panel, &notifications] {
        const PanelInputs shown = panel.contentView()->inputs();
        if (shown.planUsage && shown.planSource == PlanSource::statusLine)
            notifications.observe(*shown.planUsage);
    });

    installApplicationMenu(panel);
    panel.show();
    applyPlatformWindowBehaviour(panel);
    panel.raise();
    panel.activateWindow();
    return app.exec();
}
