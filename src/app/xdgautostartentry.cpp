#include "xdgautostartentry.h"

#include "appidentity.h"
#include "applog.h"
#include "privatefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

const QString entryGroup = QStringLiteral("[Desktop Entry]");
// An autostart entry is a few hundred bytes; anything far larger is not one to edit.
constexpr qint64 maxEntrySize = 64 * 1024;

// The Exec key's quoting: an argument with a reserved character is put in double quotes, in
// which ", `, $ and \ are escaped with a backslash; a literal % is doubled (field codes).
QString quotedExecArgument(QString argument)
{
    argument.replace(QStringLiteral("%"), QStringLiteral("%%"));
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (std::none_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); }))
        return argument;
    QString quoted = argument;
    for (const QString &special : {QStringLiteral("\\"), QStringLiteral("\""), QStringLiteral("`"), QStringLiteral("$")})
        quoted.replace(special, QStringLiteral("\\") + special);
    // In a desktop file's string values a backslash is itself escaped once more.
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool isGroupHeader(const QString &line)
{
    return line.trimmed().startsWith(u'[');
}

// The key of a "Key=value" line (spaces around '=' allowed), empty for other lines.
QString keyOf(const QString &line)
{
    if (line.trimmed().startsWith(u'#'))
        return {};
    const qsizetype equals = line.indexOf(u'=');
    return equals < 0 ? QString() : line.left(equals).trimmed();
}

struct EntryFile
{
    enum class Kind { absent, link, unreadable, file };
    Kind kind = Kind::absent;
    QByteArray content;
    QString error;
};

EntryFile readEntry(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return {EntryFile::Kind::link, {}, QObject::tr("%1 is a symbolic link; Glimmerox leaves it alone").arg(path)};
    if (!info.exists())
        return {};
    QFile file(path);
    if (!info.isFile() || info.size() > maxEntrySize || !file.open(QIODevice::ReadOnly))
        return {EntryFile::Kind::unreadable, {}, QObject::tr("cannot read %1: %2").arg(path, file.errorString())};
    return {EntryFile::Kind::file, file.readAll(), {}};
}

} // namespace

std::optional<QString> desktopEntryValue(const QByteArray &content, const QString &key)
{
    bool inEntryGroup = false;
    for (const QString &line : QString::fromUtf8(content).split(u'\n')) {
        if (isGroupHeader(line))
            inEntryGroup = line.trimmed() == entryGroup;
        else if (inEntryGroup && keyOf(line) == key)
            return line.section(u'=', 1).trimmed();
    }
    return std::nullopt;
}

QByteArray withDesktopEntryValue(const QByteArray &content, const QString &key, const QString &value)
{
    QStringList lines = QString::fromUtf8(content).split(u'\n');
    const bool endsWithNewline = lines.size() > 1 && lines.constLast().isEmpty();
    if (endsWithNewline)
        lines.removeLast();
    const QString setting = key + u'=' + value;
    qsizetype groupEnd = -1; // where a new line would go: after the group's last non-empty line
    bool inEntryGroup = false;
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isGroupHeader(lines.at(i))) {
            inEntryGroup = lines.at(i).trimmed() == entryGroup;
            if (inEntryGroup)
                groupEnd = i + 1;
        } else if (inEntryGroup && keyOf(lines.at(i)) == key) {
            lines[i] = setting;
            replaced = true;
        } else if (inEntryGroup && !lines.at(i).trimmed().isEmpty()) {
            groupEnd = i + 1;
        }
    }
    if (!replaced && groupEnd >= 0)
        lines.insert(groupEnd, setting);
    else if (!replaced)
        lines << entryGroup << setting;
    return (lines.join(u'\n') + (endsWithNewline || !replaced ? QStringLiteral("\n") : QString())).toUtf8();
}

QString autostartEntryPath(const QString &configHomeVariable, const QString &homeDir)
{
    const QString configHome = QDir::isAbsolutePath(configHomeVariable) ? configHomeVariable
                                                                       : homeDir + QStringLiteral("/.config");
    const QString folder = QDir::cleanPath(configHome + QStringLiteral("/autostart"));
    // Before the program had its desktop file id the entry was glimmerox.desktop; while only
    // that one exists it is the one the desktop starts, so it stays the one shown and changed.
    const QString current = folder + u'/' + desktopFileId() + QStringLiteral(".desktop");
    const QFileInfo earlier(folder + QStringLiteral("/glimmerox.desktop"));
    const bool onlyEarlier = (earlier.exists() || earlier.isSymLink()) && !QFileInfo(current).exists()
        && !QFileInfo(current).isSymLink();
    return onlyEarlier ? earlier.filePath() : current;
}

XdgAutostartEntry::XdgAutostartEntry(QString entryPath, QString executable)
    : m_entryPath(std::move(entryPath))
    , m_executable(std::move(executable))
{
}

QByteArray XdgAutostartEntry::defaultEntry() const
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Glimmerox\n"
                          "Comment=Claude Code usage panel, started at login\n"
                          "Exec=%1\n"
                          "Icon=glimmerox\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quotedExecArgument(m_executable))
        .toUtf8();
}

bool XdgAutostartEntry::isEnabled() const
{
    const EntryFile entry = readEntry(m_entryPath);
    return entry.kind == EntryFile::Kind::file
        && desktopEntryValue(entry.content, QStringLiteral("Hidden")) != QStringLiteral("true")
        && desktopEntryValue(entry.content, QStringLiteral("X-GNOME-Autostart-enabled")) != QStringLiteral("false");
}

std::optional<QString> XdgAutostartEntry::setEnabled(bool enabled)
{
    const EntryFile entry = readEntry(m_entryPath);
    switch (entry.kind) {
    case EntryFile::Kind::link:
    case EntryFile::Kind::unreadable:
        return entry.error;
    case EntryFile::Kind::absent:
        return enabled ? write(defaultEntry()) : std::nullopt;
    case EntryFile::Kind::file:
        break;
    }
    if (!enabled && entry.content == defaultEntry()) {
        if (!QFile::remove(m_entryPath))
            return QObject::tr("cannot remove %1").arg(m_entryPath);
        return std::nullopt;
    }
    // The user's own entry: only the keys that switch it change.
    QByteArray content = entry.content;
    const QString hidden = QStringLiteral("Hidden");
    const QString gnomeEnabled = QStringLiteral("X-GNOME-Autostart-enabled");
    if (!enabled)
        content = withDesktopEntryValue(content, hidden, QStringLiteral("true"));
    else if (desktopEntryValue(content, hidden))
        content = withDesktopEntryValue(content, hidden, QStringLiteral("false"));
    if (enabled && desktopEntryValue(content, gnomeEnabled))
        content = withDesktopEntryValue(content, gnomeEnabled, QStringLiteral("true"));
    return content == entry.content ? std::nullopt : write(content);
}

std::optional<QString> XdgAutostartEntry::write(const QByteArray &content) const
{
    QDir().mkpath(QFileInfo(m_entryPath).absolutePath());
    // The write would go through a symbolic link; one may have appeared since the entry was read.
    if (QFileInfo(m_entryPath).isSymLink())
        return QObject::tr("%1 is a symbolic link; Glimmerox leaves it alone").arg(m_entryPath);
    // Whole or not at all: a short write (a full disk) fails here instead of leaving a cut entry.
    const int mode = filePermissions(m_entryPath);
    const QString reason = writeFileAtomically(m_entryPath, content, mode < 0 ? 0644 : mode, true);
    if (reason.isEmpty())
        return std::nullopt;
    qCInfo(lcApp) << reason;
    return reason;
}
