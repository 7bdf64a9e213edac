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
#include <functional>
#include <list>
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

// A subagent transcript; `listedRegular` when its folder's listing said it is a regular file.
struct SubagentFile
{
    QString path;
    bool listedRegular = false;
};

// Where a session's transcript was found, resolved once per cycle.
struct SessionFiles
{
    QString transcript;    // <projectFolder>/<sessionId>.jsonl
    QString projectFolder; // also holds the 2.0.x subagent files agent-*.jsonl
    QString subagentFolder; // <projectFolder>/<sessionId>/subagents
    FileStatus status;     // the transcript's, when it was found
    QList<SubagentFile> subagentFiles; // filled by resolveSubagentFiles()
};

// The session files around a transcript path; absent when it names no regular file.
std::optional<SessionFiles> sessionFilesAt(const QString &transcript);

// Finds session transcripts under <claudeDir>/projects: in Claude Code's folder name, then in
// the older one; search() then looks through every project folder for the rest at once.
class TranscriptLocator
{
public:
    explicit TranscriptLocator(const QString &claudeDir);
    // The transcript in the folder the working directory names; absent when it is elsewhere.
    std::optional<SessionFiles> locate(const ActiveSession &session) const;
    // One pass over projects/ (one listing of each folder) for every session id given: Claude
    // Code shortens very long folder names, and session ids are unique wherever they lie.
    std::unordered_map<QString, SessionFiles> search(const QStringList &sessionIds) const;

private:
    QString m_projectsDir;
};

// Hashes a path by its last characters only: the files of one session share their folders and
// differ in their names, and a session can have thousands of them. Not noexcept on purpose: the
// standard library then keeps each node's hash instead of hashing its path again at every probe.
struct PathTailHash
{
    size_t operator()(const QString &path) const;
};

// What the reader keeps from one cycle to the next so that a cycle reads only what changed.
// Used by one cycle at a time.
struct StatsCache
{
    StatsCache();
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
    // A recently shown session: the read progress of each of its files, and which agent-*.jsonl
    // file of its project folder belongs to which session.
    struct ShownSession
    {
        QString transcript;
        std::unordered_map<QString, TranscriptProgress, PathTailHash> progress;
        std::unordered_map<QString, AgentOwner> agentOwners;
    };
    // When projects/ of a data directory was last searched through, and how it looked then.
    struct ProjectSearch
    {
        std::optional<FileStatus> projects;
        qint64 atMs = 0;
    };
    // Sessions shown in turn (two live sessions, a pinned one) keep their progress, so each
    // costs only its appended bytes; the memory stays bounded by this many sessions.
    static constexpr size_t keptShownSessions = 8;

    // The kept state of the session with this transcript, made the most recent; the least
    // recently shown beyond keptShownSessions is dropped.
    ShownSession &shown(const QString &transcript);

    std::list<ShownSession> recentlyShown; // most recent first
    // Where each live session's transcript was found, by "<claudeDir>/<sessionId>".
    std::unordered_map<QString, QString> transcriptLocations;
    std::unordered_map<QString, ProjectSearch> projectSearches; // by data directory
    std::unordered_map<QString, TailContext> tailContexts;
    // Monotonic milliseconds: when kept transcripts are read whole again, when a search is redone.
    std::function<qint64()> clockMs;
};

struct StatsSnapshot
{
    QList<ActiveSession> activeSessions;
    SessionStats sessionStats;
    qint64 bytesRead = 0;   // transcript bytes read in the cycle
    // What to watch for the next change: each sessions/, the shown session's files (or where its
    // transcript will appear), the other live transcripts. Some may not exist yet.
    QStringList watchPaths;
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

// Lists the running sessions of every data directory given, reads the one chosen as above (across
// all of them; the pinned session while it runs) and the last context of up to 8 other live ones.
// `cache` carries what earlier cycles read; `stop` ends the cycle early between chunks and files.
StatsSnapshot collectStats(const QStringList &claudeDirs, StatsCache &cache, const std::atomic<bool> *stop = nullptr,
                           const QString &pinnedSessionId = {});
// The same from scratch.
StatsSnapshot collectStats(const QStringList &claudeDirs);

// The last context per cent of a transcript from its end: pieces read backwards, each twice the
// one before, up to 4 MiB in all, until a complete main-conversation line with context turns
// up. Absent when none does.
std::optional<qint64> tailContextPercent(const QString &path, TranscriptReadContext &context);
