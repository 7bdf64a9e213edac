#include "statscycle.h"

#include "logging.h"
#include "sessionrecords.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_set>
#include <utility>

namespace {

// Other live sessions whose last context is read from the tail of their transcript, and how
// much of that tail is read at most.
constexpr qsizetype otherSessionsWithContext = 8;
constexpr qint64 tailBytes = qint64(256) << 10;

// The context figures, model and window of a session whose last main-conversation call is `last`.
void takeLastContext(SessionStats &stats, const UsageEntry &last)
{
    stats.lastContextTokens = last.context();
    stats.lastOutputTokens = last.output;
    stats.model = last.model;
    stats.contextWindowSize = contextWindow(stats.model, stats.contextAndOutput());
}

// The last context of a transcript from its final bytes alone: the last complete line that is a
// main-conversation call with context. Absent when the tail holds none.
std::optional<qint64> tailContextPercent(const QString &path, TranscriptReadContext &context)
{
    RegularFile file(path);
    if (!file.isOpen())
        return std::nullopt;
    const qint64 start = std::max<qint64>(0, file.size() - tailBytes);
    const qint64 length = file.size() - start;
    QByteArray tail(qsizetype(length) + qsizetype(TranscriptLineParser::padding), '\0');
    qint64 filled = 0;
    if (!file.seek(start))
        return std::nullopt;
    while (filled < length) {
        const qint64 count = file.read(tail.data() + filled, length - filled);
        if (count <= 0)
            break;
        filled += count;
    }
    context.bytesRead += filled;
    const char *begin = tail.constData();
    // Lines end at a line feed; the first one is cut unless the tail is the whole file.
    qint64 lineEnd = filled;
    while (lineEnd > 0 && begin[lineEnd - 1] != '\n')
        --lineEnd; // a last line without its line feed is still being written
    while (lineEnd > 0) {
        qint64 lineStart = lineEnd - 1;
        while (lineStart > 0 && begin[lineStart - 1] != '\n')
            --lineStart;
        if (lineStart == 0 && start > 0)
            break;
        const auto usage = context.parser().usage(begin + lineStart, size_t(lineEnd - 1 - lineStart));
        if (usage && !usage->entry.sidechain && usage->entry.bearsContext()) {
            SessionStats stats;
            takeLastContext(stats, usage->entry);
            return stats.contextPercent();
        }
        lineEnd = lineStart;
    }
    return std::nullopt;
}

// The agent-*.jsonl files of a project folder that belong to the session: the first line with a
// string "sessionId" names it. Each file's answer is kept while its size and time stay.
QStringList agentFilesOf(const QString &sessionId, const QString &projectFolder, StatsCache &cache,
                         TranscriptReadContext &context, std::set<QString> &seen)
{
    QStringList files;
    const std::optional<QStringList> names = listDirectory(projectFolder);
    if (!names)
        return files;
    for (const QString &name : *names) {
        if (context.stopRequested())
            break;
        if (!name.startsWith(QLatin1String("agent-")) || !name.endsWith(QLatin1String(".jsonl")))
            continue;
        const QString path = projectFolder + u'/' + name;
        const std::optional<FileStatus> status = fileStatus(path);
        if (!status || !status->regular)
            continue;
        seen.insert(path);
        auto owner = cache.agentOwners.find(path);
        if (owner == cache.agentOwners.end() || owner->second.status != *status) {
            const StatsCache::AgentOwner found{*status, firstSessionId(path, context)};
            owner = cache.agentOwners.insert_or_assign(path, found).first;
        }
        if (owner->second.sessionId == sessionId)
            files.append(path);
    }
    return files;
}

} // namespace

QString projectFolderName(const QString &cwd)
{
    QString name = cwd;
    for (QChar &c : name) {
        const char16_t unit = c.unicode();
        const bool kept = (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9');
        if (!kept)
            c = u'-';
    }
    return name;
}

QString encodeCwd(const QString &cwd)
{
    QString encoded = cwd.startsWith(u'/') ? cwd.mid(1) : cwd;
    encoded.replace(u'/', u'-');
    return u'-' + encoded;
}

QString transcriptPath(const QString &claudeDir, const ActiveSession &session)
{
    return claudeDir + QLatin1String("/projects/") + projectFolderName(session.cwd) + u'/' + session.sessionId
        + QLatin1String(".jsonl");
}

bool isPlainFileName(const QString &sessionId)
{
    return !sessionId.isEmpty() && sessionId != QLatin1String(".") && sessionId != QLatin1String("..")
        && !sessionId.contains(u'/') && !sessionId.contains(u'\\') && !sessionId.contains(QChar(u'\0'));
}

TranscriptLocator::TranscriptLocator(const QString &claudeDir)
    : m_projectsDir(claudeDir + QLatin1String("/projects"))
{
}

std::optional<SessionFiles> TranscriptLocator::lookIn(const QString &folder, const QString &fileName) const
{
    const QString projectFolder = m_projectsDir + u'/' + folder;
    const QString transcript = projectFolder + u'/' + fileName;
    const std::optional<FileStatus> status = fileStatus(transcript);
    if (!status || !status->regular)
        return std::nullopt;
    return SessionFiles{transcript, projectFolder,
                        transcript.chopped(6) + QLatin1String("/subagents"), *status, {}};
}

std::optional<SessionFiles> TranscriptLocator::locate(const ActiveSession &session)
{
    if (!isPlainFileName(session.sessionId)) {
        qCDebug(lcStats) << "session id is not a file name:" << session.sessionId;
        return std::nullopt;
    }
    const QString fileName = session.sessionId + QLatin1String(".jsonl");
    const QString named = projectFolderName(session.cwd);
    const QString older = encodeCwd(session.cwd);
    for (const QString &folder : {named, older}) {
        if (folder.contains(u'/') || folder == QLatin1String(".."))
            continue;
        if (auto files = lookIn(folder, fileName))
            return files;
    }
    // Session ids are unique, so the file is the session's wherever it lies (Claude Code
    // shortens very long folder names).
    if (!m_folders)
        m_folders = listDirectory(m_projectsDir);
    if (*m_folders) {
        for (const QString &folder : **m_folders) {
            if (folder == named || folder == older)
                continue;
            if (auto files = lookIn(folder, fileName))
                return files;
        }
    }
    qCDebug(lcStats) << "no transcript found for session" << session.sessionId;
    return std::nullopt;
}

std::optional<qsizetype> chooseSession(const QList<std::optional<FileTime>> &times)
{
    std::optional<qsizetype> chosen;
    std::optional<FileTime> latest; // absent plays the distant past: earlier than any file time
    for (qsizetype i = 0; i < times.size(); ++i) {
        const std::optional<FileTime> &time = times[i];
        if (time ? (!latest || *time > *latest) : !latest) {
            chosen = i;
            if (time)
                latest = time;
        }
    }
    return chosen;
}

SessionStats readSessionTokens(const ActiveSession &session, const SessionFiles &files, StatsCache &cache,
                               TranscriptReadContext &context)
{
    SessionStats stats;
    stats.sessionId = session.sessionId;
    stats.cwd = session.cwd;
    TranscriptProgress &main = cache.progress[files.transcript];
    if (main.update(files.transcript, context) != TranscriptProgress::Result::read)
        return stats;

    const UsageLedger &ledger = main.ledger();
    stats.totalTokens = ledger.totalTokens();
    if (const std::optional<UsageEntry> last = ledger.lastMainContext())
        takeLastContext(stats, *last);

    // A subagent file that is the main transcript itself, or one already counted, through a link
    // or under a second name, counts once.
    std::set<std::pair<qint64, qint64>> counted{{main.device(), main.inode()}};
    std::unordered_set<const TranscriptProgress *> kept{&main}; // what still belongs to the shown session
    for (const QString &path : files.subagentFiles) {
        TranscriptProgress &progress = cache.progress[path];
        kept.insert(&progress);
        if (context.stopRequested())
            continue;
        if (progress.update(path, context) != TranscriptProgress::Result::read)
            continue;
        if (!counted.insert({progress.device(), progress.inode()}).second)
            continue;
        stats.totalTokens = saturatingAdd(stats.totalTokens, progress.ledger().totalTokens());
    }
    // What no longer belongs to the shown session is forgotten.
    std::erase_if(cache.progress, [&](const auto &item) { return !kept.count(&item.second); });
    return stats;
}

void resolveSubagentFiles(const QString &sessionId, SessionFiles &files, StatsCache &cache,
                          TranscriptReadContext &context)
{
    files.subagentFiles.clear();
    if (const std::optional<QStringList> names = listDirectory(files.subagentFolder)) {
        for (const QString &name : *names) {
            if (name.endsWith(QLatin1String(".jsonl")))
                files.subagentFiles.append(files.subagentFolder + u'/' + name);
        }
    }
    std::set<QString> seenAgentFiles;
    files.subagentFiles += agentFilesOf(sessionId, files.projectFolder, cache, context, seenAgentFiles);
    std::erase_if(cache.agentOwners, [&](const auto &item) { return !seenAgentFiles.count(item.first); });
}

SessionStats readSessionTokens(const QString &claudeDir, const ActiveSession &session)
{
    TranscriptLocator locator(claudeDir);
    std::optional<SessionFiles> files = locator.locate(session);
    if (!files)
        return SessionStats();
    StatsCache cache;
    TranscriptReadContext context;
    resolveSubagentFiles(session.sessionId, *files, cache, context);
    return readSessionTokens(session, *files, cache, context);
}

StatsSnapshot collectStats(const QString &claudeDir, StatsCache &cache, const std::atomic<bool> *stop)
{
    StatsSnapshot snapshot;
    snapshot.activeSessions = findActiveSessions(claudeDir);
    snapshot.watchPaths.append(claudeDir + QLatin1String("/sessions"));
    if (snapshot.activeSessions.isEmpty()) // the folder may not be there yet
        snapshot.watchPaths.append(claudeDir);
    TranscriptReadContext context(stop);

    TranscriptLocator locator(claudeDir);
    QList<std::optional<SessionFiles>> files;
    QList<std::optional<FileTime>> times;
    for (const ActiveSession &session : std::as_const(snapshot.activeSessions)) {
        if (context.stopRequested()) {
            snapshot.stopped = true;
            return snapshot;
        }
        files.append(locator.locate(session));
        times.append(files.constLast() ? std::optional<FileTime>(files.constLast()->status.modified) : std::nullopt);
    }
    const std::optional<qsizetype> chosen = chooseSession(times);
    if (chosen) {
        ActiveSession &session = snapshot.activeSessions[*chosen];
        if (auto &found = files[*chosen]) {
            resolveSubagentFiles(session.sessionId, *found, cache, context);
            snapshot.sessionStats = readSessionTokens(session, *found, cache, context);
            session.contextPercent = snapshot.sessionStats.contextPercent();
            snapshot.watchPaths += {found->transcript, found->subagentFolder, found->projectFolder};
        } else {
            snapshot.sessionStats.sessionId = session.sessionId;
            snapshot.sessionStats.cwd = session.cwd;
            // Where the transcript of a session that has just started will appear.
            snapshot.watchPaths += {claudeDir + QLatin1String("/projects"),
                                    QFileInfo(transcriptPath(claudeDir, session)).path()};
        }
    }
    if (!chosen || !files.at(*chosen)) {
        cache.progress.clear();
        cache.agentOwners.clear();
    }

    // Other live sessions, the most recently active first: the context of their last call from
    // the tail of their transcript, read again only when the transcript changed.
    QList<qsizetype> others;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i != chosen && files.at(i))
            others.append(i);
    }
    std::stable_sort(others.begin(), others.end(), [&](qsizetype a, qsizetype b) {
        return files.at(a)->status.modified > files.at(b)->status.modified;
    });
    others.resize(std::min(others.size(), otherSessionsWithContext));
    std::set<QString> tailsUsed;
    for (const qsizetype i : std::as_const(others)) {
        if (context.stopRequested())
            break;
        const SessionFiles &found = *files.at(i);
        tailsUsed.insert(found.transcript);
        snapshot.watchPaths.append(found.transcript); // its next call may make it the newest
        auto known = cache.tailContexts.find(found.transcript);
        if (known == cache.tailContexts.end() || known->second.status != found.status) {
            const StatsCache::TailContext read{found.status, tailContextPercent(found.transcript, context)};
            known = cache.tailContexts.insert_or_assign(found.transcript, read).first;
        }
        snapshot.activeSessions[i].contextPercent = known->second.percent;
    }
    std::erase_if(cache.tailContexts, [&](const auto &item) { return !tailsUsed.count(item.first); });

    snapshot.bytesRead = context.bytesRead;
    snapshot.stopped = context.stopRequested();
    return snapshot;
}

StatsSnapshot collectStats(const QString &claudeDir)
{
    StatsCache cache;
    return collectStats(claudeDir, cache);
}
