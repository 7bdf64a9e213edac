#include "atomicreplace.h"

#include "fileaccess.h"
#include "xattrcopy.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <fcntl.h>
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

// Closes a descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(Descriptor)
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool replaceFileAtomically(const QString &path, const QByteArray &bytes)
{
    const QString target = existingTarget(path);
    const std::optional<QByteArray> nativeTarget = encodedPath(target);
    if (target.isEmpty() || !nativeTarget)
        return false;
    const Descriptor original(::open(nativeTarget->constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat originalInfo {};
    if (original.get() < 0 || ::fstat(original.get(), &originalInfo) != 0 || !S_ISREG(originalInfo.st_mode))
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
        || !copyExtendedAttributes(original.get(), fd)) {
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
