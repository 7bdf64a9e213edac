#include "statuslineaction.h"

#include "applog.h"
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
    // answers slowly. Only the latest read is shown, so a slow one never undoes a later one. The
    // first read also brings a bridge command set by an older version up to the form that falls
    // back to the user's own line when the bridge is gone; reads asked for meanwhile wait for it,
    // so none shows the command as it was before.
    struct Reads
    {
        int latest = 0;
        bool migrating = true;
        bool wanted = false; // a read was asked for while migrating
    };
    auto reads = std::make_shared<Reads>();
    const auto startRead = [settings, action, show, reads](bool migrate) {
        const int read = ++reads->latest;
        auto *reading = new QFutureWatcher<bool>(action);
        QObject::connect(reading, &QFutureWatcher<bool>::finished, action, [reading, show, reads, read] {
            if (read == reads->latest)
                show(reading->result());
            reading->deleteLater();
        });
        reading->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [settings, migrate] {
            if (migrate) {
                if (const SettingsEditResult result = settings.migrate(); !result.ok)
                    qCWarning(lcApp).noquote() << "the status line's command was not brought up to date:" << result.message;
            }
            return settings.isInstalled();
        }));
        return reading;
    };
    const auto readInstalled = [reads, startRead] {
        if (reads->migrating)
            reads->wanted = true;
        else
            startRead(false);
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
    // The first read covers what is there now.
    reads->wanted = false;
    QObject::connect(startRead(true), &QFutureWatcher<bool>::finished, action, [reads, readInstalled] {
        reads->migrating = false;
        if (std::exchange(reads->wanted, false))
            readInstalled();
    });
    QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, action, rewatch);
    QObject::connect(watcher, &QFileSystemWatcher::fileChanged, action, rewatch);

    // The user's own install or uninstall edits Claude Code's file on the pool too; the mark shows
    // the choice until the edit is done, then what is in place.
    QObject::connect(action, &QAction::toggled, action, [settings, parent, action, show, reads](bool install) {
        const int read = ++reads->latest;
        const QString problem = install ? bridgeProblem(settings.bridgePath()) : QString();
        auto *editing = new QFutureWatcher<std::pair<SettingsEditResult, bool>>(action);
        QObject::connect(editing, &QFutureWatcher<std::pair<SettingsEditResult, bool>>::finished, action,
                         [editing, parent, show, reads, read] {
                             const auto [result, installed] = editing->result();
                             if (read == reads->latest)
                                 show(installed);
                             if (!result.ok)
                                 QMessageBox::warning(parent, QObject::tr("Plan Figures from Claude Code's Status Line"),
                                                      result.message);
                             editing->deleteLater();
                         });
        editing->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [settings, install, problem] {
            const SettingsEditResult result = !problem.isEmpty() ? SettingsEditResult{false, problem}
                : install                                      ? settings.install()
                                                               : settings.uninstall();
            return std::pair(result, settings.isInstalled());
        }));
    });
    return action;
}
