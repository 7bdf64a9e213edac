#pragma once

#include <QString>

// The outcome of an install or uninstall: what was done, or why nothing was (then the settings
// file is as it was).
struct SettingsEditResult
{
    bool ok = false;
    QString message;
};

// Puts glimmerox-statusline into Claude Code's user settings as the status line command, chaining
// the command that was there, and takes it out again. Only the bytes of the "statusLine" member
// change (or a member is added before the closing brace); every other byte of the file stays.
// The previous member's value is kept in a small record file of Glimmerox's own, keyed by the
// settings file, so uninstalling puts it back byte for byte.
class StatusLineSettings
{
public:
    StatusLineSettings(QString settingsPath, QString recordPath, QString bridgePath);
    // settings.json in Claude Code's data directory of this process's environment, the record
    // in Glimmerox's configuration folder, and glimmerox-statusline at `bridgePath`.
    static StatusLineSettings forCurrentUser(const QString &bridgePath);

    QString settingsPath() const { return m_settingsPath; }

    // Whether the user settings' status line command runs glimmerox-statusline.
    bool isInstalled() const;
    SettingsEditResult install() const;
    SettingsEditResult uninstall() const;

private:
    QString m_settingsPath;
    QString m_recordPath;
    QString m_bridgePath;
};

// Text quoted for the POSIX shell: as it is when it needs no quoting, else in single quotes.
QString shellQuoted(const QString &text);

// Whether a status line command runs glimmerox-statusline (its first word names it).
bool runsStatusLineBridge(const QString &command);
