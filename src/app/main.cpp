#include "aboutbox.h"
#include "appmenu.h"
#include "claudestatsreader.h"
#include "panelwindow.h"
#include "planusagefetcher.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Glimmerox"));
    QApplication::setApplicationVersion(QStringLiteral(GLIMMEROX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("glimmerox"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/glimmerox.png")));
    QApplication::setQuitOnLastWindowClosed(true);

    // Both sources exist, and have started their own timers, before the event loop runs.
    ClaudeStatsReader statsReader;
    PlanUsageFetcher planFetcher;

    PanelWindow panel(statsReader, planFetcher);
    QObject::connect(&panel, &PanelWindow::aboutRequested, &panel, [&panel] { showAboutBox(&panel); });
    installApplicationMenu(panel);
    panel.show();
    applyPlatformWindowBehaviour(panel);
    panel.raise();
    panel.activateWindow();
    return app.exec();
}
