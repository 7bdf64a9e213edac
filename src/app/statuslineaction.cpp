#include "statuslineaction.h"

#include "planusagefetcher.h"
#include "statuslinesettings.h"

#include <QAction>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QSignalBlocker>

namespace {

// Why the bridge beside the running program cannot be installed; empty when it can.
QString bridgeProblem(const QString &bridgePath)
{
    // macOS runs an app opened from a download from a random read-only copy that is gone after a
    // restart: a status line pointing there would soon point nowhere.
    if (bridgePath.contains(QLatin1String("/AppTranslocation/")))
        return QObject::tr("Glimmerox runs from a temporary copy that macOS made of it. Move Glimmerox to the "
                           "Applications folder, open it from there, and try again.");
    const QFileInfo bridge(bridgePath);
    if (!bridge.isFile() || !bridge.isExecutable())
        return QObject::tr("The status-line program %1 is missing or cannot be run, so Claude Code's status line "
                           "would fail. Build it (target glimmerox-statusline) or reinstall Glimmerox.")
            .arg(bridgePath);
    return {};
}

} // namespace

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
    // A bridge set by an older version gets the command that falls back when the bridge is gone.
    settings.migrate();
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
        const QString problem = install ? bridgeProblem(settings.bridgePath()) : QString();
        const SettingsEditResult result =
            !problem.isEmpty() ? SettingsEditResult{false, problem} : install ? settings.install() : settings.uninstall();
        if (!result.ok)
            QMessageBox::warning(parent, QObject::tr("Plan Figures from Claude Code's Status Line"), result.message);
        showInstalled();
    });
    return action;
}
