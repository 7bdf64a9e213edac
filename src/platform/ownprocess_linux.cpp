#include "ownprocess.h"

#include <QFileInfo>

QString currentExecutablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}
