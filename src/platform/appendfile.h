#pragma once

#include <QByteArray>
#include <QString>

// Small logs that several processes add to at once (the plan history): one write per record,
// made under a FileLock (privatefiles.h) that is only tried for a moment, so a writer that cannot
// have it gives up instead of holding up whoever runs it.

// Appends `bytes` to the file at `path` (created with `mode` when missing) in one write with
// O_APPEND, unless the file already holds `maxSize` bytes or more. Returns an empty string on
// success, else the reason.
QString appendToFile(const QString &path, const QByteArray &bytes, int mode, qint64 maxSize);
