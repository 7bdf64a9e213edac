#include "desktopnotifier_freedesktop.h"

#include "appidentity.h"
#include "applog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHash>
#include <QThreadPool>
#include <QVariantMap>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace {

const QString notificationService = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage serviceCall(const QString &method)
{
    return QDBusMessage::createMethodCall(notificationService, QStringLiteral("/org/freedesktop/Notifications"),
                                         notificationService, method);
}

QDBusMessage busCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                         QStringLiteral("org.freedesktop.DBus"), method);
}

// Calls `handle` with the answer to `call` when it arrives (an error after the bus's timeout at
// the latest), on the thread that made the call.
template<typename Handler>
void whenAnswered(const QDBusPendingCall &call, Handler handle)
{
    auto *watcher = new QDBusPendingCallWatcher(call);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, handle = std::move(handle)] {
                         handle(*watcher);
                         watcher->deleteLater();
                     });
}

} // namespace

struct FreedesktopNotifier::State
{
    struct Key
    {
        uint id = 0; // the service's id of the last notification under the key; 0 before the first
        // While a Notify is on its way its reply brings the id to replace: the next one waits for it.
        bool sending = false;
        std::optional<DesktopNotification> waiting; // only the newest one: it would replace the others
    };

    std::optional<QDBusConnection> bus;  // absent while connecting
    QList<DesktopNotification> waiting;  // made while connecting
    QHash<QString, Key> keys;            // the ids shown per replace key
    int pending = 0;
};

namespace {

using State = std::shared_ptr<FreedesktopNotifier::State>;

void sendNotification(const State &state, const DesktopNotification &notification)
{
    uint replaces = 0;
    const QString key = notification.replaceKey;
    if (!key.isEmpty()) {
        FreedesktopNotifier::State::Key &entry = state->keys[key];
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
    whenAnswered(state->bus->asyncCall(call), [state, key](const QDBusPendingCall &answer) {
        const QDBusPendingReply<uint> reply = answer;
        if (reply.isError())
            qCDebug(lcApp) << "the notification service refused a notification:" << reply.error().message();
        if (key.isEmpty())
            return;
        FreedesktopNotifier::State::Key &entry = state->keys[key];
        if (!reply.isError())
            entry.id = reply.value();
        entry.sending = false;
        if (std::optional<DesktopNotification> next = std::exchange(entry.waiting, std::nullopt))
            sendNotification(state, *next);
    });
}

void sendAsTheServiceReads(const State &state, const DesktopNotification &notification)
{
    // The body may be read as markup; the service says whether it does.
    whenAnswered(state->bus->asyncCall(serviceCall(QStringLiteral("GetCapabilities"))),
                 [state, notification](const QDBusPendingCall &call) {
                     const QDBusPendingReply<QStringList> reply = call;
                     // A service that cannot answer is taken to read markup: escaped text then
                     // shows a stray entity at worst, never markup from a folder name.
                     const bool readsMarkup =
                         reply.isError() || reply.value().contains(QStringLiteral("body-markup"));
                     DesktopNotification sent = notification;
                     if (readsMarkup)
                         sent.body = escapedMarkup(notification.body);
                     sendNotification(state, sent);
                     --state->pending;
                 });
}

void deliver(const State &state, const DesktopNotification &notification)
{
    if (!state->bus->isConnected()) {
        qCDebug(lcApp) << "no session bus; notification dropped:" << notification.summary;
        --state->pending;
        return;
    }
    // Asking first keeps a bus without a notification server from starting anything or
    // answering with an error on every alert.
    QDBusMessage hasOwner = busCall(QStringLiteral("NameHasOwner"));
    hasOwner << notificationService;
    whenAnswered(state->bus->asyncCall(hasOwner), [state, notification](const QDBusPendingCall &call) {
        if (const QDBusPendingReply<bool> runs = call; runs.isValid() && runs.value()) {
            sendAsTheServiceReads(state, notification);
            return;
        }
        whenAnswered(state->bus->asyncCall(busCall(QStringLiteral("ListActivatableNames"))),
                     [state, notification](const QDBusPendingCall &call) {
                         const QDBusPendingReply<QStringList> activatable = call;
                         if (activatable.isValid() && activatable.value().contains(notificationService)) {
                             sendAsTheServiceReads(state, notification);
                             return;
                         }
                         qCDebug(lcApp) << "no notification service on the bus; notification dropped:"
                                        << notification.summary;
                         --state->pending;
                     });
    });
}

} // namespace

FreedesktopNotifier::FreedesktopNotifier(const QDBusConnection &bus)
    : m_state(std::make_shared<State>())
{
    m_state->bus = bus;
}

FreedesktopNotifier::FreedesktopNotifier(std::function<QDBusConnection()> connect)
    : m_state(std::make_shared<State>())
{
    QObject::connect(&m_connecting, &QFutureWatcher<std::optional<QDBusConnection>>::finished, &m_connecting,
                     [this] {
                         m_state->bus = m_connecting.result().value_or(QDBusConnection(QString()));
                         for (const DesktopNotification &notification : std::exchange(m_state->waiting, {}))
                             deliver(m_state, notification);
                     });
    m_connecting.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [connect = std::move(connect)] {
        return std::optional<QDBusConnection>(connect());
    }));
}

FreedesktopNotifier::~FreedesktopNotifier() = default;

int FreedesktopNotifier::pendingNotifications() const
{
    return m_state->pending;
}

void FreedesktopNotifier::notify(const DesktopNotification &notification)
{
    ++m_state->pending;
    if (!m_state->bus) {
        m_state->waiting.append(notification);
        return;
    }
    deliver(m_state, notification);
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
    return std::make_unique<FreedesktopNotifier>([] { return QDBusConnection::sessionBus(); });
}
