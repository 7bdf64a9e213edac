#include "appmenu.h"

#include "panelwindow.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

void installApplicationMenu(PanelWindow &panel)
{
    // A parentless menu bar is the application's main menu. Qt files the About and Quit roles
    // into the application menu and adds "Hide Glimmerox", "Hide Others" and "Show All" there.
    auto *bar = new QMenuBar(nullptr);
    QMenu *application = bar->addMenu(QStringLiteral("Glimmerox"));
    application->addAction(panel.aboutAction());
    application->addActions(panel.menuActions());
    application->addAction(panel.quitAction());
    QMenu *window = bar->addMenu(QObject::tr("Window"));
    window->addAction(panel.bringToFrontAction());
    QObject::connect(&panel, &QObject::destroyed, bar, &QObject::deleteLater);
}
