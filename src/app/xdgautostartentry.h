#pragma once

#include "startatlogin.h"

#include <QByteArray>
#include <QString>

// The freedesktop.org autostart entry $XDG_CONFIG_HOME/autostart/<desktop file id>.desktop. The
// user may have edited it or turned it off (Hidden=true, X-GNOME-Autostart-enabled=false), and
// it stays theirs: only an entry exactly as Glimmerox wrote it is ever deleted; an edited one is
// turned off with Hidden=true and on again by changing just those keys. A symbolic link at the
// entry's path is neither read, nor written through, nor replaced.
class XdgAutostartEntry : public LoginItem
{
public:
    XdgAutostartEntry(QString entryPath, QString executable);

    QString entryPath() const { return m_entryPath; }
    bool isEnabled() const override;
    std::optional<QString> setEnabled(bool enabled) override;

    // The entry as Glimmerox writes it for this executable.
    QByteArray defaultEntry() const;

private:
    std::optional<QString> write(const QByteArray &content) const;

    QString m_entryPath;
    QString m_executable;
};

// Where a free desktop looks for the user's autostart entry: $XDG_CONFIG_HOME/autostart, where
// the variable holds an absolute path, otherwise ~/.config/autostart; the file is named after
// the desktop file id, unless only an entry under the earlier name glimmerox.desktop is there.
QString autostartEntryPath(const QString &configHomeVariable, const QString &homeDir);

// The value of `key` in the [Desktop Entry] group of a desktop file, absent when not there.
std::optional<QString> desktopEntryValue(const QByteArray &content, const QString &key);
// The desktop file with `key` set to `value` in its [Desktop Entry] group: the key's line
// replaced where there is one, otherwise added at the group's end; every other line kept.
QByteArray withDesktopEntryValue(const QByteArray &content, const QString &key, const QString &value);
