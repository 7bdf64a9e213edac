#pragma once

// Linux and macOS: the error words and the write loop several POSIX platform files share.
// Included by those files only.

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstring>
#include <unistd.h>

// The system's words for an error number ("Permission denied").
inline QString systemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// "What failed: the system's words".
inline QString systemError(const QString &what, int code)
{
    return what + QStringLiteral(": ") + systemErrorText(code);
}

// Writes all of `bytes`, resuming after an interruption; false once the descriptor takes no
// more (an error, or a reader that went away).
inline bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}
