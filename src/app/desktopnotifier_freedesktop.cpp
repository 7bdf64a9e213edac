#include "desktopnotifier_freedesktop.h"

#include "appidentity.h"
#include "applog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
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

QDBusMessage busCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                         QStringLiteral("org.freedesktop.DBus"), method);
}

} // namespace

struct FreedesktopNotifier::State
{
    std::optional<QDBusConnection> bus; // absent while connecting
    QList<std::pair<QString, QString>> waiting; // summary and body, made while connecting
    int pending = 0;
};

namespace {

using State = std::shared_ptr<FreedesktopNotifier::State>;

void sendAsTheServiceReads(const State &state, const QString &summary, const QString &body)
{
    // The body may be read as markup; the service says whether it does.
    whenAnswered(state->bus->asyncCall(serviceCall(QStringLiteral("GetCapabilities"))),
                 [state, summary, body](const QDBusPendingCall &call) {
                     const QDBusPendingReply<QStringList> reply = call;
                     // A service that cannot answer is taken to read markup: escaped text then
                     // shows a stray entity at worst, never markup from a folder name.
                     const bool readsMarkup =
                         reply.isError() || reply.value().contains(QStringLiteral("body-markup"));
                     sendNotification(*state->bus, summary, readsMarkup ? escapedMarkup(body) : body);
                     --state->pending;
                 });
}

void deliver(const State &state, const QString &summary, const QString &body)
{
    if (!state->bus->isConnected()) {
        qCDebug(lcApp) << "no session bus; notification dropped:" << summary;
        --state->pending;
        return;
    }
    // Asking first keeps a bus without a notification server from starting anything or
    // answering with an error on every alert.
    QDBusMessage hasOwner = busCall(QStringLiteral("NameHasOwner"));
    hasOwner << notificationService;
    whenAnswered(state->bus->asyncCall(hasOwner), [state, summary, body](const QDBusPendingCall &call) {
        if (const QDBusPendingReply<bool> runs = call; runs.isValid() && runs.value()) {
            sendAsTheServiceReads(state, summary, body);
            return;
        }
        whenAnswered(state->bus->asyncCall(busCall(QStringLiteral("ListActivatableNames"))),
                     [state, summary, body](const QDBusPendingCall &call) {
                         const QDBusPendingReply<QStringList> activatable = call;
                         if (activatable.isValid() && activatable.value().contains(notificationService)) {
                             sendAsTheServiceReads(state, summary, body);
                             return;
                         }
                         qCDebug(lcApp) << "no notification service on the bus; notification dropped:" << summary;
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
                         for (const auto &[summary, body] : std::exchange(m_state->waiting, {}))
                             deliver(m_state, summary, body);
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

void FreedesktopNotifier::notify(const QString &summary, const QString &body)
{
    ++m_state->pending;
    if (!m_state->bus) {
        m_state->waiting.append({summary, body});
        return;
    }
    deliver(m_state, summary, body);
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
