#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// Where Claude Code keeps its OAuth token set: one item holding a JSON document.
// The program only reads the item and replaces its bytes; it never creates or deletes it.
// Both operations may be called from any thread.
class CredentialStore
{
public:
    virtual ~CredentialStore() = default;
    // The item's bytes, or absent when there is no item or it cannot be read.
    virtual std::optional<QByteArray> read() const = 0;
    // Replaces the bytes of an existing item; does nothing when there is none.
    virtual void replace(const QByteArray &bytes) = 0;
    // Where the item lives, in words a user recognises ("~/.claude/.credentials.json").
    virtual QString location() const = 0;
};

// Claude Code's credentials file (.credentials.json in its data directory, on Linux and elsewhere).
// Replacing is atomic: a temporary file in the same folder is synced and renamed over the original.
class FileCredentialStore final : public CredentialStore
{
public:
    explicit FileCredentialStore(QString path);
    std::optional<QByteArray> read() const override;
    void replace(const QByteArray &bytes) override;
    QString location() const override;
    QString path() const { return m_path; }

private:
    QString m_path;
};

// The store Claude Code uses on this system: the keychain item "Claude Code-credentials"
// on macOS, the credentials file in the data directory claudeDir elsewhere.
std::shared_ptr<CredentialStore> systemCredentialStore(const QString &claudeDir);
