#include "ownprocess.h"

#include <QFileInfo>

#include <csignal>
#include <sys/prctl.h>

QString currentExecutablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

void endWhenParentEnds()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}
