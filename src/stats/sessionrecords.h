#pragma once

// Discovery of running Claude Code sessions from their records in <claudeDir>/sessions.

#include "processes.h"
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


// Whether process `pid` runs: it exists and is no zombie (one that ended and waits for its parent).
bool isRunningProcess(qint64 pid, const ProcessProbe &probe);

// Whether a record written at `recordModifiedMs` (ms since 1970) still describes process `pid`:
// the process runs as above and did not start more than 60 s after the record was last written.
// Claude Code writes its record after its process starts, so a later start means the pid was
// given to another process after a crash left the record behind. When the start time cannot be
// read, a running process is enough.
bool isLiveRecord(qint64 pid, qint64 recordModifiedMs, const ProcessProbe &probe);

// The sessions whose records lie in <claudeDir>/sessions and are live as above, in the order the
// directory lists them, each carrying `claudeDir`; empty when the directory cannot be listed. The
// default probe reads the boot time now, so each cycle has it fresh.
QList<ActiveSession> findActiveSessions(const QString &claudeDir, const ProcessProbe &probe = ProcessProbe());

