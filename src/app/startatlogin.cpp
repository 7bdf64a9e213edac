#include "startatlogin.h"

#include <QAction>
#include <QSignalBlocker>

QAction *createStartAtLoginAction(const StartAtLogin &setting, QObject *parent)
{
    auto *action = new QAction(QObject::tr("Start at Login"), parent);
    action->setCheckable(true);
    action->setMenuRole(QAction::NoRole);
    action->setChecked(setting.isEnabled());
    QObject::connect(action, &QAction::toggled, action, [setting, action](bool enabled) {
        // Whatever happened, the check mark shows what is in place now.
        if (!setting.setEnabled(enabled)) {
            const QSignalBlocker blocker(action);
            action->setChecked(setting.isEnabled());
        }
    });
    return action;
}
