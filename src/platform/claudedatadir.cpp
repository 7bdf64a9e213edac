#include "claudedatadir.h"

#include <QDir>
#include <QtGlobal>

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
