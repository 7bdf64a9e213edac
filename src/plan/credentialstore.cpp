#include "credentialstore.h"

#include "atomicreplace.h"
#include "fileaccess.h"

#include <QDir>

namespace {

// A token document is a few hundred bytes; anything far larger is not Claude Code's file.
constexpr qint64 maxDocumentSize = 1024 * 1024;

} // namespace

FileCredentialStore::FileCredentialStore(QString path) : m_path(std::move(path)) { }

std::optional<QByteArray> FileCredentialStore::read() const
{
    // Only a regular file of sensible size is read, so a FIFO in its place cannot hang the fetch.
    return readRegularFile(m_path, maxDocumentSize);
}

bool FileCredentialStore::replace(const QByteArray &bytes)
{
    return replaceFileAtomically(m_path, bytes);
}

bool FileCredentialStore::canReplace() const
{
    return canReplaceFile(m_path);
}

QString FileCredentialStore::location() const
{
    const QString home = QDir::homePath();
    if (m_path.startsWith(home + u'/'))
        return u'~' + m_path.mid(home.size());
    return m_path;
}

#ifndef Q_OS_DARWIN
std::shared_ptr<CredentialStore> systemCredentialStore(const QString &claudeDir)
{
    return std::make_shared<FileCredentialStore>(claudeDir + QStringLiteral("/.credentials.json"));
}
#endif
