#include "atomicreplace.h"

#include "fileaccess.h"
#include "filehandle_posix.h"
#include "xattrcopy.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The target a replace writes to: the link's target, or absent when there is no regular file.
QString existingTarget(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() || !QFileInfo(target).isFile() ? QString() : target;
}

// Our temporary files beside `target`: its name, ".glimmerox-" and six characters.
QString temporaryPrefix(const QString &target) { return target + QStringLiteral(".glimmerox-"); }

} // namespace

bool replaceFileAtomically(const QString &path, const QByteArray &bytes)
{
    const QString target = existingTarget(path);
    if (target.isEmpty())
        return false;
    const RegularFile original(target);
    struct stat originalInfo {};
    if (!original.isOpen() || ::fstat(descriptorOf(original.handle()), &originalInfo) != 0)
        return false;

    // QSaveFile keeps the permissions, writes to the link's target and leaves the original
    // alone until commit(); on Linux its temporary file has no name, so a kill leaves nothing.
    QSaveFile file(target);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return false;
    const int fd = file.handle();
    struct stat fresh {};
    const bool ownerKept = ::fstat(fd, &fresh) == 0
        && ((fresh.st_uid == originalInfo.st_uid && fresh.st_gid == originalInfo.st_gid)
            || ::fchown(fd, originalInfo.st_uid, originalInfo.st_gid) == 0);
    // A change of owner may clear the set-id bits; the permissions are set again after it.
    if (!ownerKept || ::fchmod(fd, originalInfo.st_mode & 07777) != 0
        || !copyExtendedAttributes(descriptorOf(original.handle()), fd)) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

bool canReplaceFile(const QString &path)
{
    const QString target = existingTarget(path);
    if (target.isEmpty())
        return false;
    const QString prefix = temporaryPrefix(target);
    const QFileInfo targetInfo(target);
    if (const std::optional<QStringList> names = listDirectory(targetInfo.absolutePath())) {
        const QString stem = QFileInfo(prefix).fileName();
        for (const QString &name : *names)
            if (name.startsWith(stem) && name.size() == stem.size() + 6)
                QFile::remove(targetInfo.absolutePath() + u'/' + name);
    }
    QTemporaryFile probe(prefix + QStringLiteral("XXXXXX"));
    return probe.open(); // removed again when probe goes away
}
