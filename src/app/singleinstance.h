#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// Keeps one panel per user: the first launch listens on a local socket; a later launch finds it
// there, asks it to come to the front and ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The socket for the current user: in XDG_RUNTIME_DIR where the session has one (a folder
    // only the user can enter), otherwise a name carrying the user id.
    static QString userServerName();

    explicit SingleInstance(QString serverName, QObject *parent = nullptr);

    // Becomes the running instance (true), or, when another one answers, asks it to come to the
    // front and returns false. A socket left behind by a crashed instance is taken over.
    bool claim();

signals:
    // A later launch asked this instance to show its panel.
    void activationRequested();

private:
    bool listen();

    const QString m_serverName;
    QLocalServer m_server;
};
