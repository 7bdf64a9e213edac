#include "notificationsaction.h"

#include "usagenotifications.h"

#include <QAction>
#include <QSettings>
#include <QWidget>

namespace {

const QString notificationsKey = QStringLiteral("panel/notifications");

} // namespace

QAction *createNotificationsAction(QSettings &settings, UsageNotifications &notifications, QWidget *parent)
{
    auto *action = new QAction(QObject::tr("Notifications"), parent);
    action->setCheckable(true);
    action->setChecked(settings.value(notificationsKey, true).toBool());
    notifications.setEnabled(action->isChecked());
    QObject::connect(action, &QAction::toggled, &notifications, [&settings, &notifications](bool on) {
        notifications.setEnabled(on);
        settings.setValue(notificationsKey, on);
    });
    return action;
}
