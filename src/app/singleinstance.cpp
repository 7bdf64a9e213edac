#include "singleinstance.h"

#include "applog.h"
#include "privatefiles.h"
#include "privatefolder.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
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

QString SingleInstance::lockPath(const QString &serverName)
{
    return QFileInfo(serverName).absolutePath() + QStringLiteral("/glimmerox.lock");
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

SingleInstance::~SingleInstance() = default;

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

SingleInstance::Claim SingleInstance::claim()
{
    if (m_serverName.isEmpty())
        return Claim::started;
    const QString lockFile = lockPath(m_serverName);
    m_lock = std::make_unique<FileLock>(lockFile, std::chrono::milliseconds(0));
    if (!m_lock->isLocked()) {
        const bool heldElsewhere = m_lock->isHeldElsewhere();
        m_lock.reset();
        if (greetRunningInstance()) {
            qCDebug(lcApp) << "another instance runs; it was asked to come to the front";
            return Claim::activated;
        }
        if (heldElsewhere) {
            // Stopped or hung, it still holds the lock: a second panel would be one too many.
            // The caller tells the user; a warning here would say it twice.
            qCDebug(lcApp) << "another instance holds" << lockFile << "but does not answer";
            return Claim::notAnswering;
        }
        // No lock to be had at all: the greeting alone decides, as it did before locks.
        qCWarning(lcApp) << "cannot lock" << lockFile << "; a silent instance may run beside this one";
    }
    if (m_server.listen(m_serverName))
        return Claim::started;
    // The lock is free, so no panel listens: a file, a socket left by a crash, or a listener that
    // is not Glimmerox holds the name, and the name is ours.
    qCDebug(lcApp) << "taking over the instance socket" << m_serverName;
    QLocalServer::removeServer(m_serverName);
    if (!m_server.listen(m_serverName))
        qCWarning(lcApp) << "cannot listen for later launches:" << m_server.errorString();
    return Claim::started;
}

bool SingleInstance::greetRunningInstance()
{
    // One deadline for connecting and for the answer: a later launch ends within it either way.
    const QDeadlineTimer deadline(greetingTimeoutMs);
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    socket.write(greeting);
    // A local loop rather than waitForReadyRead: the running instance may be in this very
    // process (the tests), and it answers only from its event loop.
    QEventLoop loop;
    QTimer expiry;
    expiry.setSingleShot(true);
    connect(&expiry, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        if (socket.canReadLine() || socket.bytesAvailable() >= reply.size())
            loop.quit();
    });
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    expiry.start(int(deadline.remainingTime()));
    if (!socket.canReadLine())
        loop.exec();
    const bool answered = socket.readLine(reply.size() + 1) == reply;
    if (!answered)
        qCDebug(lcApp) << "the instance socket's listener is not Glimmerox";
    return answered;
}
