#include "desktopnotifier_freedesktop.h"

#include "appidentity.h"
#include "applog.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHash>
#include <QVariantMap>

#include <optional>
#include <utility>

namespace {

const QString notificationService = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage serviceCall(const QString &method)
{
    return QDBusMessage::createMethodCall(notificationService, QStringLiteral("/org/freedesktop/Notifications"),
                                         notificationService, method);
}

} // namespace

struct FreedesktopNotifier::Shown
{
    struct Key
    {
        uint id = 0; // the service's id of the last notification under the key; 0 before the first
        // While a Notify is on its way its reply brings the id to replace: the next one waits for it.
        bool sending = false;
        std::optional<DesktopNotification> waiting; // only the newest one: it would replace the others
    };
    QHash<QString, Key> keys;
};

namespace {

void sendNotification(const QDBusConnection &bus, const std::shared_ptr<FreedesktopNotifier::Shown> &shown,
                      const DesktopNotification &notification)
{
    uint replaces = 0;
    const QString key = notification.replaceKey;
    if (!key.isEmpty()) {
        FreedesktopNotifier::Shown::Key &entry = shown->keys[key];
        if (entry.sending) {
            entry.waiting = notification;
            return;
        }
        entry.sending = true;
        replaces = entry.id;
    }
    QDBusMessage call = serviceCall(QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), desktopFileId()},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(notification.urgent ? 2 : 1))}};
    call << QStringLiteral("Glimmerox") << replaces << QStringLiteral("glimmerox") << notification.summary
         << notification.body << QStringList() << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [bus, shown, key, watcher] {
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError())
            qCDebug(lcApp) << "the notification service refused a notification:" << reply.error().message();
        watcher->deleteLater();
        if (key.isEmpty())
            return;
        FreedesktopNotifier::Shown::Key &entry = shown->keys[key];
        if (!reply.isError())
            entry.id = reply.value();
        entry.sending = false;
        if (std::optional<DesktopNotification> next = std::exchange(entry.waiting, std::nullopt))
            sendNotification(bus, shown, *next);
    });
}

} // namespace

FreedesktopNotifier::FreedesktopNotifier(const QDBusConnection &bus)
    : m_bus(bus)
    , m_shown(std::make_shared<Shown>())
{
}

FreedesktopNotifier::~FreedesktopNotifier() = default;

void FreedesktopNotifier::notify(const DesktopNotification &notification)
{
    const QString &summary = notification.summary;
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
                     [bus = m_bus, shown = m_shown, capabilities, notification] {
                         const QDBusPendingReply<QStringList> reply = *capabilities;
                         // A service that cannot answer is taken to read markup: escaped text then
                         // shows a stray entity at worst, never markup from a folder name.
                         const bool readsMarkup =
                             reply.isError() || reply.value().contains(QStringLiteral("body-markup"));
                         DesktopNotification sent = notification;
                         if (readsMarkup)
                             sent.body = escapedMarkup(notification.body);
                         sendNotification(bus, shown, sent);
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
