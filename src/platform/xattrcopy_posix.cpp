#include "xattrcopy.h"

#include <QByteArray>
#include <QList>

#include <optional>

#include <sys/xattr.h>

namespace {

// The three calls differ only in their extra arguments: macOS takes a position and an options
// argument, both 0 for ordinary attributes.
ssize_t listNames(int fd, char *buffer, size_t size)
{
#ifdef __APPLE__
    return ::flistxattr(fd, buffer, size, 0);
#else
    return ::flistxattr(fd, buffer, size);
#endif
}

ssize_t getValue(int fd, const char *name, void *buffer, size_t size)
{
#ifdef __APPLE__
    return ::fgetxattr(fd, name, buffer, size, 0, 0);
#else
    return ::fgetxattr(fd, name, buffer, size);
#endif
}

int setValue(int fd, const char *name, const void *value, size_t size)
{
#ifdef __APPLE__
    return ::fsetxattr(fd, name, value, size, 0, 0);
#else
    return ::fsetxattr(fd, name, value, size, 0);
#endif
}

// The names, NUL-separated as the system lists them; absent on an error.
std::optional<QList<QByteArray>> attributeNames(int fd)
{
    const ssize_t size = listNames(fd, nullptr, 0);
    if (size < 0)
        return std::nullopt;
    QByteArray names(size, Qt::Uninitialized);
    const ssize_t read = listNames(fd, names.data(), size_t(names.size()));
    if (read < 0)
        return std::nullopt;
    names.truncate(read);
    QList<QByteArray> list = names.split('\0');
    list.removeAll(QByteArray());
    return list;
}

std::optional<QByteArray> attributeValue(int fd, const QByteArray &name)
{
    const ssize_t size = getValue(fd, name.constData(), nullptr, 0);
    if (size < 0)
        return std::nullopt;
    QByteArray value(size, Qt::Uninitialized);
    const ssize_t read = getValue(fd, name.constData(), value.data(), size_t(value.size()));
    if (read < 0)
        return std::nullopt;
    value.truncate(read);
    return value;
}

} // namespace

bool copyExtendedAttributes(int from, int to)
{
    const std::optional<QList<QByteArray>> names = attributeNames(from);
    if (!names)
        return false;
    for (const QByteArray &name : *names) {
        const std::optional<QByteArray> value = attributeValue(from, name);
        if (!value)
            return false;
        // A label the system already gave the new file (security.selinux) needs no copy,
        // and an unprivileged process could not write it.
        if (attributeValue(to, name) == value)
            continue;
        if (setValue(to, name.constData(), value->constData(), size_t(value->size())) != 0)
            return false;
    }
    return true;
}
