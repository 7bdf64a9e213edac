#pragma once

// One refresh cycle's work, from the data directory to the figures published: used by
// ClaudeStatsReader on its pool thread and by glimmerox-bench.

#include "fileaccess.h"
#include "sessionstats.h"
#include "transcriptaccounting.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <unordered_map>

// Claude Code's project folder name for a working directory: every UTF-16 code unit outside
// A-Z, a-z and 0-9 becomes "-" ("/home/ana/my_repo" gives "-home-ana-my-repo").
QString projectFolderName(const QString &cwd);
// The older folder name some data directories still hold: one leading "/" dropped, every other
// "/" turned into "-", and "-" in front ("/a/b.c" gives "-a-b.c").
QString encodeCwd(const QString &cwd);
// Where Claude Code writes a session's transcript: <claudeDir>/projects/<projectFolderName(cwd)>/<sessionId>.jsonl
QString transcriptPath(const QString &claudeDir, const ActiveSession &session);
// Whether a session id can name a file inside a project folder: not empty, not "." or "..",
// without "/", "\" or NUL.
bool isPlainFileName(const QString &sessionId);

// Where a session's transcript was found, resolved once per cycle.
struct SessionFiles
{
    QString transcript;    // <projectFolder>/<sessionId>.jsonl
    QString projectFolder; // also holds the 2.0.x subagent files agent-*.jsonl
    QString subagentFolder; // <projectFolder>/<sessionId>/subagents
    FileStatus status;     // the transcript's, when it was found
    QStringList subagentFiles; // filled by resolveSubagentFiles()
};

// Finds session transcripts under <claudeDir>/projects: in Claude Code's folder name, then in
// the older one, then in every project folder; lists projects/ at most once.
class TranscriptLocator
{
public:
    explicit TranscriptLocator(const QString &claudeDir);
    std::optional<SessionFiles> locate(const ActiveSession &session);

private:
    std::optional<SessionFiles> lookIn(const QString &folder, const QString &fileName) const;

    QString m_projectsDir;
    std::optional<std::optional<QStringList>> m_folders; // listed on first need
};

// What the reader keeps from one cycle to the next so that a cycle reads only what changed:
// the read progress per transcript file, which agent-*.jsonl file belongs to which session,
// and the last context of other live sessions. Used by one cycle at a time.
struct StatsCache
{
    StatsCache() = default;
    Q_DISABLE_COPY_MOVE(StatsCache)

    struct AgentOwner
    {
        FileStatus status;
        std::optional<QString> sessionId;
    };
    struct TailContext
    {
        FileStatus status;
        std::optional<qint64> percent;
    };
    std::unordered_map<QString, TranscriptProgress> progress;
    std::unordered_map<QString, AgentOwner> agentOwners;
    std::unordered_map<QString, TailContext> tailContexts;
};

struct StatsSnapshot
{
    QList<ActiveSession> activeSessions;
    SessionStats sessionStats;
    qint64 bytesRead = 0;   // transcript bytes read in the cycle
    QStringList watchPaths; // what to watch for the next change: sessions/, the shown session's files
    bool stopped = false;   // the cycle was asked to stop; nothing of it is to be published
};

// The index of the session to show, given each listed session's transcript time: the pinned
// index when it is one of them; otherwise the newest time wins, the first listed wins a tie, and
// a session without a time is taken only while no dated one has been seen (so among undated
// sessions alone the last listed). Absent for none.
std::optional<qsizetype> chooseSession(const QList<std::optional<FileTime>> &times,
                                       std::optional<qsizetype> pinned = std::nullopt);

// The session's subagent transcripts: the *.jsonl files of its subagents folder, and the
// agent-*.jsonl files of its project folder (Claude Code 2.0.x) whose first line with a string
// "sessionId" names it. Each agent file's answer is kept in the cache while its size and time stay.
void resolveSubagentFiles(const QString &sessionId, SessionFiles &files, StatsCache &cache,
                          TranscriptReadContext &context);

// Token figures of a session whose files were located and resolved: the main transcript gives the total, the
// last main-conversation call (sidechain lines count in the total only) and the model; the
// subagent transcripts add to the total.
SessionStats readSessionTokens(const ActiveSession &session, const SessionFiles &files, StatsCache &cache,
                               TranscriptReadContext &context);
// The same for a session of a data directory, from scratch.
SessionStats readSessionTokens(const QString &claudeDir, const ActiveSession &session);

// Lists the running sessions of <claudeDir>, reads the one chosen as above (the pinned session
// while it runs) and the last context of up to 8 other live ones. `cache` carries what earlier
// cycles read; `stop` ends the cycle early between chunks and files.
StatsSnapshot collectStats(const QString &claudeDir, StatsCache &cache, const std::atomic<bool> *stop = nullptr,
                           const QString &pinnedSessionId = {});
StatsSnapshot collectStats(const QString &claudeDir);
