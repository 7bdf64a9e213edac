#pragma once

#include "desktopnotifier.h"

#include <QDBusConnection>
#include <QFutureWatcher>

#include <functional>
#include <memory>
#include <optional>

// Sends org.freedesktop.Notifications.Notify on the given bus, as "Glimmerox" with the
// program's icon name. A bus without the service (or no bus at all) only costs a log line.
// Nothing waits on the bus: whether the service runs or can be started is asked anew, without
// blocking, for each notification, and the connection itself is made on the thread pool.
// Where the service reads the body as markup (or does not say), &, < and > in it are escaped,
// so a folder called "R&D <b>x" arrives as that text. The summary is never read as markup.
// An urgent notification has urgency 2 (critical), any other 1; one with a replace key names
// the id the service gave the last one of that key as its replaces_id.
class FreedesktopNotifier : public DesktopNotifier
{
public:
    // Notifies on `bus`, connected already (or not at all).
    explicit FreedesktopNotifier(const QDBusConnection &bus);
    // Gets its bus from `connect`, called once on the thread pool: connecting to a bus that does
    // not answer blocks for as long as libdbus waits. Notifications wait until it returns.
    explicit FreedesktopNotifier(std::function<QDBusConnection()> connect);
    ~FreedesktopNotifier() override;

    void notify(const DesktopNotification &notification) override;

    // Notifications neither sent nor dropped yet: waiting for the bus or for its answers.
    int pendingNotifications() const;

    // What the calls in flight share with the notifier, so they outlive it safely.
    struct State;

private:
    std::shared_ptr<State> m_state;
    QFutureWatcher<std::optional<QDBusConnection>> m_connecting;
};

// &, < and > as the entities the notification markup knows.
QString escapedMarkup(const QString &text);
