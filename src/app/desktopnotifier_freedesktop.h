#pragma once

#include "desktopnotifier.h"

#include <QDBusConnection>

#include <memory>

// Sends org.freedesktop.Notifications.Notify on the given bus, as "Glimmerox" with the
// program's icon name. A bus without the service (or no bus at all) only costs a log line.
// Where the service reads the body as markup (or does not say), &, < and > in it are escaped,
// so a folder called "R&D <b>x" arrives as that text. The summary is never read as markup.
// An urgent notification has urgency 2 (critical), any other 1; one with a replace key names
// the id the service gave the last one of that key as its replaces_id.
class FreedesktopNotifier : public DesktopNotifier
{
public:
    explicit FreedesktopNotifier(const QDBusConnection &bus);
    ~FreedesktopNotifier() override;

    void notify(const DesktopNotification &notification) override;

    struct Shown;

private:
    QDBusConnection m_bus;
    // The ids shown per replace key, shared with the calls in flight, which may outlive this object.
    std::shared_ptr<Shown> m_shown;
};

// &, < and > as the entities the notification markup knows.
QString escapedMarkup(const QString &text);
