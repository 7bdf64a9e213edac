#include "privatefolder.h"

#include "fileaccess.h"
#include "posixio.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString privateFolderProblem(const QString &path)
{
    const std::optional<QByteArray> name = encodedPath(path);
    struct stat info;
    if (!name || ::lstat(name->constData(), &info) != 0)
        return systemError(path, name ? errno : EINVAL);
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is not a folder").arg(path);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to user %2").arg(path).arg(info.st_uid);
    if ((info.st_mode & 07777) != 0700)
        return QStringLiteral("%1 has mode %2, not 0700").arg(path).arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

PrivateFolder privateRuntimeFolder(const QString &runtimeDirVariable, const QString &tempDir)
{
    QString runtimeProblem = QStringLiteral("XDG_RUNTIME_DIR is not set");
    if (!runtimeDirVariable.isEmpty()) {
        runtimeProblem = privateFolderProblem(runtimeDirVariable);
        if (runtimeProblem.isEmpty())
            return {runtimeDirVariable, {}};
    }
    const QString fallback = QStringLiteral("%1/glimmerox-%2").arg(tempDir).arg(::geteuid());
    if (const std::optional<QByteArray> name = encodedPath(fallback); name && ::mkdir(name->constData(), 0700) != 0
        && errno != EEXIST)
        return {{}, QStringLiteral("%1; cannot make %2: %3")
                        .arg(runtimeProblem, fallback, systemErrorText(errno))};
    if (const QString problem = privateFolderProblem(fallback); !problem.isEmpty())
        return {{}, runtimeProblem + QStringLiteral("; ") + problem};
    return {fallback, {}};
}
