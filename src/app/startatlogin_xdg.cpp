#include "startatlogin.h"
#include "xdgautostartentry.h"

#include <QCoreApplication>
#include <QDir>

std::unique_ptr<LoginItem> loginItemForCurrentUser()
{
    return std::make_unique<XdgAutostartEntry>(
        autostartEntryPath(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()),
        QCoreApplication::applicationFilePath());
}
