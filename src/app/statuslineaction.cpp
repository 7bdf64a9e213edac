#include "statuslineaction.h"

#include "claudedatadir.h"
#include "planusagefetcher.h"
#include "statuslinesettings.h"

#include <QAction>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <utility>

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
    // What the settings say decides the check mark and whether the service may be asked.
    const auto show = [action, &fetcher](bool installed) {
        const QSignalBlocker blocker(action);
        action->setChecked(installed);
        fetcher.setServiceEnabled(!installed);
    };
    // Reads after a change elsewhere run on the pool: Claude Code's folder may sit on a disk that
    // answers slowly. Only the latest read is shown, so a slow one never undoes a later one.
    auto latestRead = std::make_shared<int>(0);
    // The first read also brings a bridge command set by an older version up to the form that
    // falls back to the user's own line when the bridge is gone.
    auto migrated = std::make_shared<bool>(false);
    const auto readInstalled = [settings, action, show, latestRead, migrated] {
        const int read = ++*latestRead;
        const bool migrate = !std::exchange(*migrated, true);
        auto *reading = new QFutureWatcher<bool>(action);
        QObject::connect(reading, &QFutureWatcher<bool>::finished, action, [reading, show, latestRead, read] {
            if (read == *latestRead)
                show(reading->result());
            reading->deleteLater();
        });
        reading->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [settings, migrate] {
            if (migrate)
                settings.migrate();
            return settings.isInstalled();
        }));
    };
    const auto showInstalled = [settings, show, latestRead] {
        ++*latestRead;
        show(settings.isInstalled());
    };
    // Until the settings are read the service is not asked: they may run the bridge.
    fetcher.setServiceEnabled(false);

    // Claude Code and editors replace the file by renaming, which its folder's watch sees. A
    // folder that does not exist yet (Claude Code makes it when it first runs) is watched through
    // its nearest existing parent.
    auto *watcher = new QFileSystemWatcher(action);
    const QString settingsFolder = QFileInfo(settings.settingsPath()).absolutePath();
    const auto rewatch = [watcher, settings, settingsFolder, readInstalled] {
        QStringList wanted{nearestExistingPath(settingsFolder)};
        if (QFileInfo::exists(settings.settingsPath()))
            wanted.append(settings.settingsPath());
        const QStringList watched = watcher->files() + watcher->directories();
        for (const QString &path : watched) {
            if (!wanted.contains(path))
                watcher->removePath(path);
        }
        for (const QString &path : std::as_const(wanted)) {
            if (!path.isEmpty() && !watched.contains(path))
                watcher->addPath(path);
        }
        readInstalled();
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
