#pragma once

#include "desktopnotifier.h"

#include <QDBusConnection>

// Sends org.freedesktop.Notifications.Notify on the given bus, as "Glimmerox" with the
// program's icon name. A bus without the service (or no bus at all) only costs a log line.
// Where the service reads the body as markup (or does not say), &, < and > in it are escaped,
// so a folder called "R&D <b>x" arrives as that text. The summary is never read as markup.
class FreedesktopNotifier : public DesktopNotifier
{
public:
    explicit FreedesktopNotifier(const QDBusConnection &bus);

    void notify(const QString &summary, const QString &body) override;

private:
    QDBusConnection m_bus;
};

// &, < and > as the entities the notification markup knows.
QString escapedMarkup(const QString &text);
