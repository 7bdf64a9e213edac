#pragma once

#include <QByteArray>
#include <QString>

// Replacing a small file that another program owns (Claude Code's credentials file) without
// ever leaving half a file, and without changing anything about it but its content.

// Replaces the content of the existing regular file at `path` (a symbolic link is followed and
// its target replaced) so that it is always either the old or the new content. The new file
// keeps the old one's permissions, owner, group and extended attributes; when any of them
// cannot be kept, nothing is replaced. Never creates a file. Returns whether it was replaced.
bool replaceFileAtomically(const QString &path, const QByteArray &bytes);

// Whether the folder of the file at `path` accepts a temporary file of ours beside it, which is
// what replaceFileAtomically() needs. Also removes temporary files of ours that a killed process
// left there (named after the file, only ours).
bool canReplaceFile(const QString &path);
