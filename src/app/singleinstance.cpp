#include "singleinstance.h"

#include "logging.h"

#include <QLocalSocket>
#include <QtGlobal>

#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QString SingleInstance::userServerName()
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty())
        return runtimeDir + QStringLiteral("/glimmerox.socket");
#ifdef Q_OS_UNIX
    return QStringLiteral("glimmerox-%1").arg(::getuid());
#else
    return QStringLiteral("glimmerox-%1").arg(qEnvironmentVariable("USERNAME"));
#endif
}

SingleInstance::SingleInstance(QString serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(std::move(serverName))
{
    // No socket options: with them Qt renames its socket over an existing one, and a second
    // instance would silently take the first one's place instead of finding it. A connection
    // carries nothing but "come to the front", so the socket's default permissions do.
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            qCDebug(lcApp) << "a later launch asked for the panel";
            emit activationRequested();
        }
    });
}

bool SingleInstance::claim()
{
    if (listen())
        return true;
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (socket.waitForConnected(1000)) {
        // Connecting is the whole request: the running instance takes it from the queue later.
        qCDebug(lcApp) << "another instance runs; it was asked to come to the front";
        return false;
    }
    // Nobody answers: the socket is a leftover of an instance that ended without removing it.
    qCDebug(lcApp) << "taking over a stale instance socket" << m_serverName;
    QLocalServer::removeServer(m_serverName);
    if (!listen())
        qCInfo(lcApp) << "cannot listen for later launches:" << m_server.errorString();
    return true;
}

bool SingleInstance::listen()
{
    return m_server.listen(m_serverName);
}
