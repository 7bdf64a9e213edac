#pragma once

#include <QString>
#include <QStringList>

// Claude Code's data directory: the folder named by CLAUDE_CONFIG_DIR when that is set and not
// empty, otherwise .claude in the home directory. Sessions, projects and (on Linux) the
// credentials file all live there, so every reader asks this one function.
QString claudeDataDirectory(const QString &homeDir, const QString &configDirVariable);

// The same for this process: its environment and the user's home directory.
QString claudeDataDirectory();

// The form of a data directory's path that its samples, cached report and history are kept under:
// links resolved when it exists, so ~/.claude and a link to it are one; otherwise the cleaned path.
QString dataDirectoryKey(const QString &dataDirectory);

// Every data directory Claude Code may be writing to: ~/.claude, CLAUDE_CONFIG_DIR when set, then
// `extras` (for example those named by recent status-line samples), in that order. Empty entries
// are dropped, and a folder reached under two names (a trailing "/", "..", a link) is kept once,
// under its first name. A person with two accounts runs one Claude Code with each.
QStringList knownDataDirectories(const QString &homeDir, const QString &configDirVariable,
                                 const QStringList &extras = {});

// The path itself when it exists, otherwise its nearest existing parent (empty when none does): a
// watch there notices the missing folder or file being created, as Claude Code makes its data
// directory only when it first runs.
QString nearestExistingPath(QString path);
