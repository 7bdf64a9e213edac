#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

// One read of Claude Code's login: the document, or what kept us from it.
struct CredentialRead
{
    enum class Outcome {
        found,   // `document` holds the item's bytes
        missing, // there is no login: nothing to report but its absence
        denied,  // the system refused us the item (a keychain denial or a cancelled prompt)
        failed,  // the item is there but could not be read; `error` says why
    };
    Outcome outcome = Outcome::missing;
    QByteArray document;
    QString error; // the system's words for denied and failed, never any of the item's bytes
};

// Where Claude Code keeps its OAuth token set: one item holding a JSON document. The login is
// Claude Code's alone: the program only ever reads it, and Claude Code renews it itself.
// read() may be called from any thread, and may block (a keychain prompt).
class CredentialStore
{
public:
    CredentialStore() = default;
    virtual ~CredentialStore() = default;
    Q_DISABLE_COPY_MOVE(CredentialStore)
    virtual CredentialRead read() const = 0;
    // Where the item lives, in words a user recognises ("~/.claude/.credentials.json").
    virtual QString location() const = 0;
    // Files and folders whose changes may mean a new login; empty when the store cannot be watched.
    virtual QStringList watchedPaths() const { return {}; }
};

// Claude Code's credentials file (.credentials.json in its data directory, on Linux and elsewhere).
class FileCredentialStore final : public CredentialStore
{
public:
    explicit FileCredentialStore(QString path);
    CredentialRead read() const override;
    QString location() const override;
    // The file, and its folder: Claude Code replaces the file rather than writing into it, and a
    // watch on a replaced file ends with it.
    QStringList watchedPaths() const override;
    QString path() const { return m_path; }

private:
    QString m_path;
};

// The store Claude Code uses on this system: the keychain item "Claude Code-credentials" (or its
// CLAUDE_CONFIG_DIR variant) on macOS, the credentials file in the data directory claudeDir elsewhere.
std::shared_ptr<CredentialStore> systemCredentialStore(const QString &claudeDir);
