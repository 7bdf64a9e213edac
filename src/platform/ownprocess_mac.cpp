#include "ownprocess.h"

#include <QFileInfo>

#include <mach-o/dyld.h>

#include <vector>

QString currentExecutablePath()
{
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0)
        return {};
    return QFileInfo(QString::fromLocal8Bit(buffer.data())).canonicalFilePath();
}
