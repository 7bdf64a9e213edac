#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <QString>

#include <memory>
#include <optional>

// Where Claude Code keeps its OAuth token set: one item holding a JSON document.
// The program only reads the item and replaces its bytes; it never creates or deletes it.
// Both operations may be called from any thread.
class CredentialStore
{
public:
    CredentialStore() = default;
    virtual ~CredentialStore() = default;
    Q_DISABLE_COPY_MOVE(CredentialStore)
    // The item's bytes, or absent when there is no item or it cannot be read.
    virtual std::optional<QByteArray> read() const = 0;
    // Replaces the bytes of an existing item; does nothing when there is none. Returns
    // whether the item now holds `bytes`.
    virtual bool replace(const QByteArray &bytes) = 0;
    // Whether a replace can be expected to succeed, asked before a renewal: a renewed token
    // that cannot be saved would leave Claude Code holding a spent refresh token.
    virtual bool canReplace() const { return true; }
    // Where the item lives, in words a user recognises ("~/.claude/.credentials.json").
    virtual QString location() const = 0;
};

// Claude Code's credentials file (.credentials.json in its data directory, on Linux and elsewhere).
// Replacing is atomic and keeps the file's permissions, owner, group and extended attributes.
class FileCredentialStore final : public CredentialStore
{
public:
    explicit FileCredentialStore(QString path);
    std::optional<QByteArray> read() const override;
    bool replace(const QByteArray &bytes) override;
    bool canReplace() const override;
    QString location() const override;
    QString path() const { return m_path; }

private:
    QString m_path;
};

// The store Claude Code uses on this system: the keychain item "Claude Code-credentials" (or its
// CLAUDE_CONFIG_DIR variant) on macOS, the credentials file in the data directory claudeDir elsewhere.
std::shared_ptr<CredentialStore> systemCredentialStore(const QString &claudeDir);
