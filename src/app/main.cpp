#include "aboutbox.h"
#include "appidentity.h"
#include "appmenu.h"
#include "claudedatadir.h"
#include "claudestatsreader.h"
#include "desktopnotifier.h"
#include "panelwindow.h"
#include "paneltray.h"
#include "planusagefetcher.h"
#include "singleinstance.h"
#include "startatlogin.h"
#include "startup.h"
#include "usagenotifications.h"
#include "windowbehaviour.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

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
    if (!instance.claim())
        return 0;

    // Both sources exist, and have started their own timers, before the event loop runs.
    ClaudeStatsReader statsReader; // every known data directory
    PlanUsageFetcher planFetcher(PlanFetcherEnvironment::system());

    PanelWindow panel(statsReader, planFetcher);
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

    auto *tray = new PanelTray(panel);
    const auto updateTray = [&] { tray->setFigures(statsReader.sessionStats(), planFetcher.planUsage()); };
    QObject::connect(&statsReader, &ClaudeStatsReader::sessionStatsChanged, tray, updateTray);
    QObject::connect(&planFetcher, &PlanUsageFetcher::planUsageChanged, tray, updateTray);
    QObject::connect(&instance, &SingleInstance::activationRequested, tray, &PanelTray::restorePanel);

    const std::unique_ptr<DesktopNotifier> notifier = systemNotifier();
    UsageNotifications notifications(*notifier);
    notifications.follow(statsReader, planFetcher);

    installApplicationMenu(panel);
    keepPlatformWindowBehaviour(panel);
    panel.show();
    panel.raise();
    panel.activateWindow();
    return app.exec();
}
