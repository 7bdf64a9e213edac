#pragma once

#include "desktopnotifier.h"

#include <QDBusConnection>

// Sends org.freedesktop.Notifications.Notify on the given bus, as "Glimmerox" with the
// program's icon name. A bus without the service (or no bus at all) only costs a log line.
class FreedesktopNotifier : public DesktopNotifier
{
public:
    explicit FreedesktopNotifier(const QDBusConnection &bus);

    void notify(const QString &summary, const QString &body) override;

private:
    QDBusConnection m_bus;
};
