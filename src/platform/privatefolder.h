#pragma once

#include <QString>

// A folder for things only the current user may reach, such as the single-instance socket: a
// real directory (not a symbolic link), owned by the user, entered by nobody else (mode 0700).
struct PrivateFolder
{
    QString path;  // empty when no private folder could be had
    QString error; // why not, for the log
};

// Empty when `path` is such a folder, otherwise why not, for the log.
QString privateFolderProblem(const QString &path);

// $XDG_RUNTIME_DIR (given as `runtimeDirVariable`) when it is such a folder, otherwise
// `<tempDir>/glimmerox-<user id>`, made so when missing. A folder that exists but is not
// private is never used, nor changed.
PrivateFolder privateRuntimeFolder(const QString &runtimeDirVariable, const QString &tempDir);
