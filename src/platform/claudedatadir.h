#pragma once

#include <QString>

// Claude Code's data directory: the folder named by CLAUDE_CONFIG_DIR when that is set and not
// empty, otherwise .claude in the home directory. Sessions, projects and (on Linux) the
// credentials file all live there, so every reader asks this one function.
QString claudeDataDirectory(const QString &homeDir, const QString &configDirVariable);

// The same for this process: its environment and the user's home directory.
QString claudeDataDirectory();
