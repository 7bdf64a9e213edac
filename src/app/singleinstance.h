#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <memory>

class FileLock;

// Keeps one panel per user. Whoever holds the lock file beside the socket, for its whole life,
// is the running panel; the system frees the lock when that process ends, however it ends. The
// socket in the user's private runtime folder only carries "come to the front": a later launch
// that finds the lock taken greets the running panel, asks it to the front and ends. Whatever
// holds the socket's name while the lock is free (a file, a socket left by a crash, a listener
// that is not Glimmerox) is no running panel, and the launch takes the name over.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    static constexpr int greetingTimeoutMs = 1000;

    enum class Claim {
        started,      // this is the running instance now
        activated,    // another instance runs and was asked to the front
        notAnswering, // another instance holds the lock but did not answer in time (stopped, or hung)
    };
    Q_ENUM(Claim)

    // What a launch prints when the running panel does not answer.
    static constexpr char notAnsweringMessage[] =
        "Glimmerox is already running but does not answer; no second panel was started.\n";

    // The socket for the current user in its private runtime folder (see privateRuntimeFolder);
    // empty when there is no such folder, and the panel then runs without a single instance.
    static QString userServerName(const QString &runtimeDirVariable, const QString &tempDir);
    // The lock file that decides which launch runs, beside the socket.
    static QString lockPath(const QString &serverName);

    explicit SingleInstance(QString serverName, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Becomes the running instance, or finds the one that runs and asks it to the front. Runs a
    // local event loop for at most greetingTimeoutMs in all.
    Claim claim();

signals:
    // A later launch asked this instance to show its panel.
    void activationRequested();

private:
    void answer(QLocalSocket *socket);
    bool greetRunningInstance();

    const QString m_serverName;
    QLocalServer m_server;
    std::unique_ptr<FileLock> m_lock; // held while this is the running instance
};
