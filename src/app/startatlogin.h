#pragma once

#include <QString>

class QAction;
class QObject;

// Whether the panel starts when the user logs in. On Linux and other free desktops this is the
// file $XDG_CONFIG_HOME/autostart/glimmerox.desktop (~/.config when the variable is unset), the
// only file Glimmerox ever writes of its own; on macOS it is the application's login item.
class StartAtLogin
{
public:
    // The current user's, starting this executable.
    static StartAtLogin forCurrentUser();

    bool isEnabled() const;
    // Adds or removes the entry; false when that failed.
    bool setEnabled(bool enabled) const;

#ifndef Q_OS_MACOS
    // An autostart entry at entryPath that runs executable.
    StartAtLogin(QString entryPath, QString executable);
    QString entryPath() const { return m_entryPath; }

private:
    QString m_entryPath;
    QString m_executable;
#endif
};

#ifndef Q_OS_MACOS
// Where a free desktop looks for the user's autostart entry: $XDG_CONFIG_HOME/autostart, where
// the variable holds an absolute path, otherwise ~/.config/autostart.
QString autostartEntryPath(const QString &configHomeVariable, const QString &homeDir);
#endif

// The menu's "Start at Login" check item, showing and changing the setting.
QAction *createStartAtLoginAction(const StartAtLogin &setting, QObject *parent);
