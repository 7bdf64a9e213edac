#include "desktopnotifier_freedesktop.h"

#include "appidentity.h"
#include "applog.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString notificationService = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage serviceCall(const QString &method)
{
    return QDBusMessage::createMethodCall(notificationService, QStringLiteral("/org/freedesktop/Notifications"),
                                         notificationService, method);
}

void sendNotification(const QDBusConnection &bus, const QString &summary, const QString &body)
{
    QDBusMessage call = serviceCall(QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), desktopFileId()}};
    call << QStringLiteral("Glimmerox") << uint(0) << QStringLiteral("glimmerox") << summary << body << QStringList()
         << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher] {
        if (watcher->isError())
            qCDebug(lcApp) << "the notification service refused a notification:" << watcher->error().message();
        watcher->deleteLater();
    });
}

} // namespace

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
    // The body may be read as markup; the service says whether it does.
    auto *capabilities = new QDBusPendingCallWatcher(m_bus.asyncCall(serviceCall(QStringLiteral("GetCapabilities"))));
    QObject::connect(capabilities, &QDBusPendingCallWatcher::finished, capabilities,
                     [bus = m_bus, capabilities, summary, body] {
                         const QDBusPendingReply<QStringList> reply = *capabilities;
                         // A service that cannot answer is taken to read markup: escaped text then
                         // shows a stray entity at worst, never markup from a folder name.
                         const bool readsMarkup =
                             reply.isError() || reply.value().contains(QStringLiteral("body-markup"));
                         sendNotification(bus, summary, readsMarkup ? escapedMarkup(body) : body);
                         capabilities->deleteLater();
                     });
}

QString escapedMarkup(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'&', QStringLiteral("&amp;"));
    escaped.replace(u'<', QStringLiteral("&lt;"));
    escaped.replace(u'>', QStringLiteral("&gt;"));
    return escaped;
}

std::unique_ptr<DesktopNotifier> systemNotifier()
{
    return std::make_unique<FreedesktopNotifier>(QDBusConnection::sessionBus());
}
