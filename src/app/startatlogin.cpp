#include "startatlogin.h"

#include <QAction>
#include <QSignalBlocker>

#include <utility>

QAction *createStartAtLoginAction(std::shared_ptr<LoginItem> item, QObject *parent,
                                  std::function<void(const QString &)> reportFailure)
{
    auto *action = new QAction(QObject::tr("Start at Login"), parent);
    action->setCheckable(true);
    action->setMenuRole(QAction::NoRole);
    action->setChecked(item->isEnabled());
    QObject::connect(action, &QAction::toggled, action,
                     [item = std::move(item), action, report = std::move(reportFailure)](bool enabled) {
                         if (const std::optional<QString> failure = item->setEnabled(enabled)) {
                             // The check mark shows what is in place now.
                             const QSignalBlocker blocker(action);
                             action->setChecked(item->isEnabled());
                             report(*failure);
                         }
                     });
    return action;
}
