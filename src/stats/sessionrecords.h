#pragma once

// Discovery of running Claude Code sessions from their records in <claudeDir>/sessions.

#include "sessionstats.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Records larger than this are skipped unread; a real one is a few hundred bytes.
constexpr qint64 maxSessionRecordBytes = qint64(1) << 20;

// The session a record describes, before the liveness probe; absent when the record is not a
// JSON object with an integral "pid", string "sessionId" and "cwd" and a numeric "startedAt",
// or when its pid could not name a single process (0, negative, beyond 32 bits).
std::optional<ActiveSession> parseSessionRecord(QByteArrayView data);


// The sessions whose records lie in <claudeDir>/sessions and whose process is running, in the
// order the directory lists them; empty when the directory cannot be listed.
QList<ActiveSession> findActiveSessions(const QString &claudeDir);

// Whether any record in <claudeDir>/sessions names a running process: stops at the first one.
bool hasLiveSession(const QString &claudeDir);
