#pragma once

#include <QString>

#include <functional>

// The outcome of an install or uninstall: what was done, or why nothing was (then the settings
// file is as it was).
struct SettingsEditResult
{
    bool ok = false;
    QString message;
};

// Puts glimmerox-statusline into Claude Code's user settings as the status line command, chaining
// the command that was there, and takes it out again. The command falls back to the chained one
// when the bridge is no longer at its path, and `exec`s the bridge, so that Claude Code's signals
// reach it. An edit is made again (up to three times) when the file changed while it was made. Only the bytes of the "statusLine" member
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
    QString bridgePath() const { return m_bridgePath; }

    // Whether the user settings' status line command runs glimmerox-statusline.
    bool isInstalled() const;
    SettingsEditResult install() const;
    SettingsEditResult uninstall() const;
    // Rewrites a bridge command exactly as earlier versions wrote it (without the fallback) into
    // the current form, with the same bridge and chained command; does nothing otherwise.
    SettingsEditResult migrate() const;

    // Called just before the check that the file is still as read; tests change the file here.
    void setBeforeReplace(std::function<void()> hook) { m_beforeReplace = std::move(hook); }

private:
    QString m_settingsPath;
    QString m_recordPath;
    QString m_bridgePath;
    std::function<void()> m_beforeReplace;
};

// Text quoted for the POSIX shell: as it is when it needs no quoting, else in single quotes.
QString shellQuoted(const QString &text);

// Whether a status line command runs glimmerox-statusline: the form install writes, or the older
// one whose first word names the bridge.
bool runsStatusLineBridge(const QString &command);
