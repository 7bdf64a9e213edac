#include "credentialstore.h"

#include "fileaccess.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A token document is a few hundred bytes; anything far larger is not Claude Code's file.
constexpr qint64 maxDocumentSize = 1024 * 1024;

} // namespace

FileCredentialStore::FileCredentialStore(QString path) : m_path(std::move(path)) { }

CredentialRead FileCredentialStore::read() const
{
    // Only a regular file of sensible size is read, so a FIFO in its place cannot hang the fetch.
    ReadResult file = readSmallFile(m_path, maxDocumentSize);
    if (file.ok())
        return {CredentialRead::Outcome::found, std::move(file.data), {}};
    if (file.missing)
        return {CredentialRead::Outcome::missing, {}, {}};
    return {CredentialRead::Outcome::failed, {}, file.error};
}

QString FileCredentialStore::location() const
{
    const QString home = QDir::homePath();
    if (m_path.startsWith(home + u'/'))
        return u'~' + m_path.mid(home.size());
    return m_path;
}

QStringList FileCredentialStore::watchedPaths() const
{
    return {m_path, QFileInfo(m_path).absolutePath()};
}

#ifndef Q_OS_DARWIN
std::shared_ptr<CredentialStore> systemCredentialStore(const QString &claudeDir)
{
    return std::make_shared<FileCredentialStore>(claudeDir + QStringLiteral("/.credentials.json"));
}
#endif
