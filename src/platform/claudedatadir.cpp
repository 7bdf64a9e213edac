#include "claudedatadir.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include <set>

QString claudeDataDirectory(const QString &homeDir, const QString &configDirVariable)
{
    if (!configDirVariable.isEmpty())
        return QDir::cleanPath(configDirVariable);
    return homeDir + QLatin1String("/.claude");
}

QString claudeDataDirectory()
{
    return claudeDataDirectory(QDir::homePath(), qEnvironmentVariable("CLAUDE_CONFIG_DIR"));
}

QString dataDirectoryKey(const QString &dataDirectory)
{
    const QString canonical = QFileInfo(dataDirectory).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(dataDirectory) : canonical;
}

QStringList knownDataDirectories(const QString &homeDir, const QString &configDirVariable, const QStringList &extras)
{
    QStringList candidates{homeDir + QLatin1String("/.claude")};
    candidates.append(configDirVariable);
    candidates += extras;
    QStringList known;
    std::set<QString> seen;
    for (const QString &candidate : std::as_const(candidates)) {
        if (candidate.isEmpty())
            continue;
        const QString path = QDir::cleanPath(candidate);
        if (seen.insert(dataDirectoryKey(path)).second)
            known.append(path);
    }
    return known;
}

QString nearestExistingPath(QString path)
{
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return {};
        path = parent;
    }
    return path;
}
