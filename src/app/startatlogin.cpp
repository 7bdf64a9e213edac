#include "startatlogin.h"

#include <QAction>
#include <QFutureWatcher>
#include <QSignalBlocker>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

QAction *createStartAtLoginAction(std::shared_ptr<LoginItem> item, QObject *parent,
                                  std::function<void(const QString &)> reportFailure)
{
    auto *action = new QAction(QObject::tr("Start at Login"), parent);
    action->setCheckable(true);
    action->setMenuRole(QAction::NoRole);
    // The first look runs on the pool: on macOS it asks a system service, which may answer
    // slowly. A choice the user made before it came back is not undone by it.
    auto chosen = std::make_shared<bool>(false);
    auto *reading = new QFutureWatcher<bool>(action);
    QObject::connect(reading, &QFutureWatcher<bool>::finished, action, [reading, action, chosen] {
        if (!*chosen) {
            const QSignalBlocker blocker(action);
            action->setChecked(reading->result());
        }
        reading->deleteLater();
    });
    reading->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [item] { return item->isEnabled(); }));
    QObject::connect(action, &QAction::toggled, action,
                     [item = std::move(item), action, chosen, report = std::move(reportFailure)](bool enabled) {
                         *chosen = true;
                         if (const std::optional<QString> failure = item->setEnabled(enabled)) {
                             // The check mark shows what is in place now.
                             const QSignalBlocker blocker(action);
                             action->setChecked(item->isEnabled());
                             report(*failure);
                         }
                     });
    return action;
}
