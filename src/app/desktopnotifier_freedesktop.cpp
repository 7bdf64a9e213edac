#include "desktopnotifier_freedesktop.h"

#include "logging.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace {
const QString notificationService = QStringLiteral("org.freedesktop.Notifications");
}

FreedesktopNotifier::FreedesktopNotifier(const QDBusConnection &bus)
    : m_bus(bus)
{
}

void FreedesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected()) {
        qCDebug(lcApp) << "no session bus; notification dropped:" << summary;
        return;
    }
    // Asking first keeps a bus without a notification server from starting anything or
    // answering with an error on every alert.
    const QDBusConnectionInterface *busInterface = m_bus.interface();
    if (busInterface && !busInterface->isServiceRegistered(notificationService).value()) {
        const QStringList activatable =
            busInterface->activatableServiceNames().value();
        if (!activatable.contains(notificationService)) {
            qCDebug(lcApp) << "no notification service on the bus; notification dropped:" << summary;
            return;
        }
    }
    QDBusMessage call = QDBusMessage::createMethodCall(notificationService, QStringLiteral("/org/freedesktop/Notifications"),
                                                       notificationService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName()}};
    call << QStringLiteral("Glimmerox") << uint(0) << QStringLiteral("glimmerox") << summary << body << QStringList()
         << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher] {
        if (watcher->isError())
            qCDebug(lcApp) << "the notification service refused a notification:" << watcher->error().message();
        watcher->deleteLater();
    });
}

std::unique_ptr<DesktopNotifier> systemNotifier()
{
    return std::make_unique<FreedesktopNotifier>(QDBusConnection::sessionBus());
}
