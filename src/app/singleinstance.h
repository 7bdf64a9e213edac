#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// Keeps one panel per user: the first launch listens on a local socket in the user's private
// runtime folder; a later launch connects, greets it, and when it answers as Glimmerox, asks
// it to come to the front and ends. Whatever else holds the name (a file, a listener that
// does not answer the greeting within a second, one that answers something else) is not a
// running panel: the launch takes the name over and starts.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    static constexpr int greetingTimeoutMs = 1000;

    // The socket for the current user in its private runtime folder (see privateRuntimeFolder);
    // empty when there is no such folder, and the panel then runs without a single instance.
    static QString userServerName(const QString &runtimeDirVariable, const QString &tempDir);

    explicit SingleInstance(QString serverName, QObject *parent = nullptr);

    // Becomes the running instance (true), or, when another one answers, asks it to come to the
    // front and returns false. Runs a local event loop for at most greetingTimeoutMs.
    bool claim();

signals:
    // A later launch asked this instance to show its panel.
    void activationRequested();

private:
    void answer(QLocalSocket *socket);
    bool greetRunningInstance();

    const QString m_serverName;
    QLocalServer m_server;
};
