#include "appmenu.h"

#include "panelwindow.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

void installApplicationMenu(PanelWindow &panel)
{
    // A parentless menu bar is the application's main menu. Qt files the About and Quit roles
    // into the application menu and adds "Hide Glimmerox", "Hide Others" and "Show All" there.
    // Actions without a role of their own would stay behind in the menu made here and show it
    // as a second "Glimmerox" menu; as application-specific entries they join the application
    // menu too, and Qt hides the menu made here, left without a visible item.
    auto *bar = new QMenuBar(nullptr);
    QMenu *application = bar->addMenu(QStringLiteral("Glimmerox"));
    application->addAction(panel.aboutAction());
    const QList<QAction *> entries = panel.menuActions() + QList<QAction *>{panel.rememberPositionAction()};
    for (QAction *entry : entries) {
        entry->setMenuRole(QAction::ApplicationSpecificRole);
        application->addAction(entry);
    }
    application->addAction(panel.quitAction());
    QMenu *window = bar->addMenu(QObject::tr("Window"));
    window->addAction(panel.bringToFrontAction());
    QObject::connect(&panel, &QObject::destroyed, bar, &QObject::deleteLater);
}
