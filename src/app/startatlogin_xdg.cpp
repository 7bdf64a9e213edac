#include "startatlogin.h"

#include "logging.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <utility>

namespace {

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

} // namespace

QString autostartEntryPath(const QString &configHomeVariable, const QString &homeDir)
{
    const QString configHome = QDir::isAbsolutePath(configHomeVariable) ? configHomeVariable
                                                                       : homeDir + QStringLiteral("/.config");
    return QDir::cleanPath(configHome + QStringLiteral("/autostart/glimmerox.desktop"));
}

StartAtLogin StartAtLogin::forCurrentUser()
{
    return {autostartEntryPath(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()),
            QCoreApplication::applicationFilePath()};
}

StartAtLogin::StartAtLogin(QString entryPath, QString executable)
    : m_entryPath(std::move(entryPath))
    , m_executable(std::move(executable))
{
}

bool StartAtLogin::isEnabled() const
{
    return QFileInfo::exists(m_entryPath);
}

bool StartAtLogin::setEnabled(bool enabled) const
{
    if (!enabled) {
        const bool removed = !QFileInfo::exists(m_entryPath) || QFile::remove(m_entryPath);
        if (!removed)
            qCInfo(lcApp) << "could not remove the autostart entry" << m_entryPath;
        return removed;
    }
    QDir().mkpath(QFileInfo(m_entryPath).absolutePath());
    QSaveFile file(m_entryPath);
    if (file.open(QIODevice::WriteOnly)) {
        const QString entry = QStringLiteral("[Desktop Entry]\n"
                                             "Type=Application\n"
                                             "Name=Glimmerox\n"
                                             "Comment=Claude Code usage panel, started at login\n"
                                             "Exec=%1\n"
                                             "Icon=glimmerox\n"
                                             "Terminal=false\n"
                                             "X-GNOME-Autostart-enabled=true\n")
                                  .arg(quotedExecArgument(m_executable));
        file.write(entry.toUtf8());
        if (file.commit())
            return true;
    }
    qCInfo(lcApp) << "could not write the autostart entry" << m_entryPath << file.errorString();
    return false;
}
