#include "statuslineaction.h"

#include "planusagefetcher.h"
#include "statuslinesettings.h"

#include <QAction>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QSignalBlocker>

QAction *createStatusLineAction(const StatusLineSettings &settings, PlanUsageFetcher &fetcher, QWidget *parent)
{
    auto *action = new QAction(QObject::tr("Plan Figures from Claude Code's Status Line"), parent);
    action->setCheckable(true);
    action->setMenuRole(QAction::NoRole);
    // What the settings say now decides the check mark and whether the service may be asked.
    const auto showInstalled = [settings, action, &fetcher] {
        const bool installed = settings.isInstalled();
        const QSignalBlocker blocker(action);
        action->setChecked(installed);
        fetcher.setServiceEnabled(!installed);
    };
    showInstalled();

    // Claude Code and editors replace the file by renaming, which its folder's watch sees.
    auto *watcher = new QFileSystemWatcher(action);
    const QString settingsFolder = QFileInfo(settings.settingsPath()).absolutePath();
    watcher->addPath(settingsFolder);
    const auto rewatch = [watcher, settings, showInstalled] {
        if (QFileInfo::exists(settings.settingsPath()) && !watcher->files().contains(settings.settingsPath()))
            watcher->addPath(settings.settingsPath());
        showInstalled();
    };
    rewatch();
    QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, action, rewatch);
    QObject::connect(watcher, &QFileSystemWatcher::fileChanged, action, rewatch);

    QObject::connect(action, &QAction::toggled, action, [settings, parent, showInstalled](bool install) {
        const SettingsEditResult result = install ? settings.install() : settings.uninstall();
        if (!result.ok)
            QMessageBox::warning(parent, QObject::tr("Plan Figures from Claude Code's Status Line"), result.message);
        showInstalled();
    });
    return action;
}
