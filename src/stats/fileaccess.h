#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// A read-only descriptor of a regular file. Only regular files are opened (links followed),
// so a FIFO, socket or device that carries a record's or transcript's name can never block
// or disturb the reader.
class RegularFile
{
public:
    explicit RegularFile(const QString &path);
    ~RegularFile();
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    qint64 size() const { return m_size; }

    // Reads up to `capacity` bytes; returns the count, 0 at the end, -1 on an error.
    qint64 read(char *buffer, qint64 capacity);

private:
    int m_fd = -1;
    qint64 m_size = 0;
};

// The path as the file system takes it; absent when it holds a NUL character, which would
// silently cut the path short and name another file.
std::optional<QByteArray> encodedPath(const QString &path);

// The whole content of a regular file of at most `maxSize` bytes; absent when the file is
// missing, not regular, larger than `maxSize` or unreadable.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxSize);

// The names in a directory in the order the file system lists them, hidden ones included;
// absent when the directory cannot be listed.
std::optional<QStringList> listDirectory(const QString &path);
