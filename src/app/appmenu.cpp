#include "appmenu.h"

#include "panelwindow.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#ifdef Q_OS_MACOS
void applyMacWindowBehaviour(QWidget &window); // macwindow.mm

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

void applyPlatformWindowBehaviour(PanelWindow &panel)
{
    applyMacWindowBehaviour(panel);
}
#else
void applyX11WindowBehaviour(QWidget &window); // x11window.cpp, or nothing without X11

void installApplicationMenu(PanelWindow &) {}

void applyPlatformWindowBehaviour(PanelWindow &panel)
{
    applyX11WindowBehaviour(panel);
}
#endif
