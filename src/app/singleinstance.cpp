#include "singleinstance.h"

#include "applog.h"
#include "privatefolder.h"

#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>

#include <utility>

namespace {

// A later launch says the first line, the running instance answers with the second.
const QByteArray greeting = QByteArrayLiteral("glimmerox: come to the front\n");
const QByteArray reply = QByteArrayLiteral("glimmerox: coming\n");

} // namespace

QString SingleInstance::userServerName(const QString &runtimeDirVariable, const QString &tempDir)
{
    const PrivateFolder folder = privateRuntimeFolder(runtimeDirVariable, tempDir);
    if (folder.path.isEmpty()) {
        qCWarning(lcApp) << "no private runtime folder; later launches will start another panel:" << folder.error;
        return {};
    }
    return folder.path + QStringLiteral("/glimmerox.socket");
}

SingleInstance::SingleInstance(QString serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(std::move(serverName))
{
    // No socket options: with them Qt renames its socket over an existing one, and a second
    // instance would silently take the first one's place instead of finding it. The folder
    // around the socket is what keeps other users out.
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection())
            answer(socket);
    });
}

void SingleInstance::answer(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A caller that never finishes its greeting is not kept for ever.
    QTimer::singleShot(10 * greetingTimeoutMs, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > greeting.size())
                socket->abort();
            return;
        }
        if (socket->readLine(greeting.size() + 1) != greeting) {
            qCDebug(lcApp) << "a connection that is no later launch was closed";
            socket->abort();
            return;
        }
        socket->write(reply);
        socket->disconnectFromServer();
        qCDebug(lcApp) << "a later launch asked for the panel";
        emit activationRequested();
    });
}

bool SingleInstance::claim()
{
    if (m_serverName.isEmpty() || m_server.listen(m_serverName))
        return true;
    if (greetRunningInstance()) {
        qCDebug(lcApp) << "another instance runs; it was asked to come to the front";
        return false;
    }
    // A file, a socket left by a crash, or a listener that is not Glimmerox: the name is ours.
    qCDebug(lcApp) << "taking over the instance socket" << m_serverName;
    QLocalServer::removeServer(m_serverName);
    if (!m_server.listen(m_serverName))
        qCWarning(lcApp) << "cannot listen for later launches:" << m_server.errorString();
    return true;
}

bool SingleInstance::greetRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(greetingTimeoutMs))
        return false;
    socket.write(greeting);
    // A local loop rather than waitForReadyRead: the running instance may be in this very
    // process (the tests), and it answers only from its event loop.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        if (socket.canReadLine() || socket.bytesAvailable() >= reply.size())
            loop.quit();
    });
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    deadline.start(greetingTimeoutMs);
    if (!socket.canReadLine())
        loop.exec();
    const bool answered = socket.readLine(reply.size() + 1) == reply;
    if (!answered)
        qCDebug(lcApp) << "the instance socket's listener is not Glimmerox";
    return answered;
}
