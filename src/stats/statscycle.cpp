#include "statscycle.h"

#include "statslog.h"
#include "sessionrecords.h"

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>
#include <utility>

namespace {

// Other live sessions whose last context is read from the tail of their transcript; the first
// and the largest piece of that tail read at once.
constexpr qsizetype otherSessionsWithContext = 8;
constexpr qint64 firstTailPiece = qint64(64) << 10;
constexpr qint64 maxTailBytes = qint64(4) << 20;
// A transcript not found anywhere is looked for again when projects/ changed or this long after.
constexpr qint64 searchAgainMs = 60000;
// From this many subagent files on, a helper thread reads them too: thousands of small files
// cost their system calls and parsing, and the two take turns well on two cores.
constexpr qsizetype filesForHelperThread = 64;

// A thread that, once started, is joined at the latest when this goes out of scope, also when
// the work beside it throws. A thread that cannot be started leaves the work to the caller.
class HelperThread
{
public:
    HelperThread() = default;
    ~HelperThread() { join(); }
    Q_DISABLE_COPY_MOVE(HelperThread)

    template<typename Work>
    bool start(Work &&work)
    {
        try {
            m_thread = std::thread(std::forward<Work>(work));
            return true;
        } catch (const std::system_error &error) {
            qCDebug(lcStats) << "no helper thread:" << error.what();
            return false;
        }
    }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
};

// The context figures, model and window of a session whose last main-conversation call is `last`.
void takeLastContext(SessionStats &stats, const UsageEntry &last)
{
    stats.lastContextTokens = last.context();
    stats.lastOutputTokens = last.output;
    stats.model = last.model;
    stats.contextWindowSize = contextWindow(stats.model, stats.contextAndOutput());
}

// The agent-*.jsonl files of a project folder that belong to the session: the first line with a
// string "sessionId" names it. Each file's answer is kept while its size and time stay.
QStringList agentFilesOf(const QString &sessionId, const QString &projectFolder,
                         std::unordered_map<QString, StatsCache::AgentOwner> &owners, TranscriptReadContext &context,
                         std::set<QString> &seen)
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
        auto owner = owners.find(path);
        if (owner == owners.end() || owner->second.status != *status) {
            const StatsCache::AgentOwner found{*status, firstSessionId(path, context)};
            owner = owners.insert_or_assign(path, found).first;
        }
        if (owner->second.sessionId == sessionId)
            files.append(path);
    }
    return files;
}

// The transcript locations of the live sessions: remembered ones that still exist, then the
// folder the working directory names, then one search of projects/ per data directory for the
// rest. A session never found is searched for again only when projects/ changed or a minute
// has passed, and at once when its remembered transcript has gone.
QList<std::optional<SessionFiles>> locateTranscripts(const QList<ActiveSession> &sessions, StatsCache &cache)
{
    QList<std::optional<SessionFiles>> found(sessions.size());
    std::unordered_map<QString, QString> locations;
    std::map<QString, QList<qsizetype>> unfound; // by data directory
    std::set<QString> lost;                      // data directories with a transcript gone
    for (qsizetype i = 0; i < sessions.size(); ++i) {
        const ActiveSession &session = sessions.at(i);
        const QString key = session.claudeDir + u'/' + session.sessionId;
        if (const auto known = cache.transcriptLocations.find(key); known != cache.transcriptLocations.end()) {
            found[i] = sessionFilesAt(known->second);
            if (!found[i])
                lost.insert(session.claudeDir);
        }
        if (!found[i])
            found[i] = TranscriptLocator(session.claudeDir).locate(session);
        if (found[i])
            locations.insert_or_assign(key, found[i]->transcript);
        else if (isPlainFileName(session.sessionId))
            unfound[session.claudeDir].append(i);
    }
    std::unordered_map<QString, StatsCache::ProjectSearch> searches;
    const qint64 now = cache.clockMs();
    for (const auto &[claudeDir, indices] : unfound) {
        const std::optional<FileStatus> projects = fileStatus(claudeDir + QLatin1String("/projects"));
        const auto last = cache.projectSearches.find(claudeDir);
        const bool due = lost.count(claudeDir) || last == cache.projectSearches.end()
            || last->second.projects != projects || now - last->second.atMs >= searchAgainMs;
        if (!due) {
            searches.insert(*last);
            continue;
        }
        searches.insert_or_assign(claudeDir, StatsCache::ProjectSearch{projects, now});
        QStringList ids;
        for (const qsizetype i : indices)
            ids.append(sessions.at(i).sessionId);
        const std::unordered_map<QString, SessionFiles> results = TranscriptLocator(claudeDir).search(ids);
        for (const qsizetype i : indices) {
            if (const auto result = results.find(sessions.at(i).sessionId); result != results.end()) {
                found[i] = result->second;
                locations.insert_or_assign(claudeDir + u'/' + sessions.at(i).sessionId, result->second.transcript);
            } else {
                qCDebug(lcStats) << "no transcript found for session" << sessions.at(i).sessionId;
            }
        }
    }
    cache.transcriptLocations = std::move(locations);
    cache.projectSearches = std::move(searches);
    return found;
}

} // namespace

std::optional<qint64> tailContextPercent(const QString &path, TranscriptReadContext &context)
{
    RegularFile file(path);
    if (!file.isOpen())
        return std::nullopt;
    const qint64 size = file.size();
    // tail holds the file's bytes [start, size) followed by the parser's padding; the lines
    // ending after `scanned` have been looked at (-1 until the last line feed is found).
    QByteArray tail;
    qint64 start = size;
    qint64 scanned = -1;
    for (qint64 piece = firstTailPiece; start > 0 && size - start < maxTailBytes; piece *= 2) {
        if (context.stopRequested())
            return std::nullopt;
        const qint64 from = std::max<qint64>({0, start - piece, size - maxTailBytes});
        QByteArray grown(qsizetype(size - from) + qsizetype(TranscriptLineParser::padding), '\0');
        if (!file.seek(from))
            return std::nullopt;
        qint64 filled = 0;
        while (filled < start - from) {
            const qint64 count = file.read(grown.data() + filled, start - from - filled);
            if (count <= 0)
                return std::nullopt;
            filled += count;
        }
        context.bytesRead += filled;
        std::memcpy(grown.data() + (start - from), tail.constData(), size_t(size - start));
        tail = std::move(grown);
        start = from;

        // The byte at a file offset, indexed from the array itself: no pointer before its start.
        const auto byteAt = [&](qint64 offset) { return tail.constData()[offset - start]; };
        // The last line without its line feed is still being written; it never counts.
        if (scanned < 0) {
            qint64 end = size;
            while (end > start && byteAt(end - 1) != '\n')
                --end;
            if (end == start && start > 0)
                continue; // no line feed among the bytes read so far
            scanned = end;
        }
        qint64 lineEnd = scanned;
        while (lineEnd > start) {
            qint64 lineStart = lineEnd - 1;
            while (lineStart > start && byteAt(lineStart - 1) != '\n')
                --lineStart;
            if (lineStart == start && start > 0)
                break; // cut by the piece: looked at with the next one
            const auto usage = context.parser().usage(tail.constData() + (lineStart - start),
                                                    size_t(lineEnd - 1 - lineStart));
            if (usage && !usage->entry.sidechain && usage->entry.bearsContext()) {
                SessionStats stats;
                takeLastContext(stats, usage->entry);
                return stats.contextPercent();
            }
            lineEnd = lineStart;
        }
        scanned = lineEnd;
    }
    return std::nullopt;
}

std::optional<SessionFiles> sessionFilesAt(const QString &transcript)
{
    const std::optional<FileStatus> status = fileStatus(transcript);
    if (!status || !status->regular)
        return std::nullopt;
    return SessionFiles{transcript, QFileInfo(transcript).path(), transcript.chopped(6) + QLatin1String("/subagents"),
                        *status, {}};
}

size_t PathTailHash::operator()(const QString &path) const
{
    constexpr qsizetype hashedUnits = 32;
    const QStringView tail = QStringView(path).right(hashedUnits);
    return std::hash<std::u16string_view>()(std::u16string_view(tail.utf16(), size_t(tail.size())));
}

StatsCache::StatsCache()
    : clockMs([] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    })
{
}

StatsCache::ShownSession &StatsCache::shown(const QString &transcript)
{
    auto found = std::find_if(recentlyShown.begin(), recentlyShown.end(),
                              [&](const ShownSession &session) { return session.transcript == transcript; });
    if (found == recentlyShown.end()) {
        recentlyShown.push_front(ShownSession{transcript, {}, {}});
        if (recentlyShown.size() > keptShownSessions)
            recentlyShown.pop_back();
    } else if (found != recentlyShown.begin()) {
        recentlyShown.splice(recentlyShown.begin(), recentlyShown, found);
    }
    return recentlyShown.front();
}

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

std::optional<SessionFiles> TranscriptLocator::locate(const ActiveSession &session) const
{
    if (!isPlainFileName(session.sessionId)) {
        qCDebug(lcStats) << "session id is not a file name:" << session.sessionId;
        return std::nullopt;
    }
    for (const QString &folder : {projectFolderName(session.cwd), encodeCwd(session.cwd)}) {
        if (folder.contains(u'/') || folder == QLatin1String(".."))
            continue;
        if (auto files = sessionFilesAt(m_projectsDir + u'/' + folder + u'/' + session.sessionId + QLatin1String(".jsonl")))
            return files;
    }
    return std::nullopt;
}

std::unordered_map<QString, SessionFiles> TranscriptLocator::search(const QStringList &sessionIds) const
{
    std::unordered_map<QString, SessionFiles> found;
    std::set<QString> wanted;
    for (const QString &id : sessionIds) {
        if (isPlainFileName(id))
            wanted.insert(id + QLatin1String(".jsonl"));
    }
    const std::optional<QStringList> folders = wanted.empty() ? std::nullopt : listDirectory(m_projectsDir);
    for (const QString &folder : folders.value_or(QStringList())) {
        const QString path = m_projectsDir + u'/' + folder;
        for (const QString &name : listDirectory(path).value_or(QStringList())) {
            if (!wanted.count(name))
                continue;
            if (auto files = sessionFilesAt(path + u'/' + name)) {
                found.insert_or_assign(name.chopped(6), std::move(*files));
                wanted.erase(name);
            }
        }
        if (wanted.empty())
            break;
    }
    return found;
}

std::optional<qsizetype> chooseSession(const QList<std::optional<FileTime>> &times, std::optional<qsizetype> pinned)
{
    if (pinned && *pinned >= 0 && *pinned < times.size())
        return pinned;
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
    stats.claudeDir = session.claudeDir;
    auto &progress = cache.shown(files.transcript).progress;
    progress.reserve(size_t(files.subagentFiles.size()) + 1);
    TranscriptProgress &main = progress[files.transcript];
    if (main.update(files.transcript, context) != TranscriptProgress::Result::read)
        return stats;

    const UsageLedger &ledger = main.ledger();
    stats.totalTokens = ledger.totalTokens();
    if (const std::optional<UsageEntry> last = ledger.lastMainContext())
        takeLastContext(stats, *last);

    // A subagent file that is the main transcript itself, or one already counted, through a link
    // or under a second name, counts once: the first in list order. Sorted afterwards rather than
    // kept in a set, so that thousands of files cost no allocation each.
    struct Counted
    {
        qint64 device, inode;
        qsizetype order; // -1 for the main transcript
        qint64 tokens;
        auto operator<=>(const Counted &other) const = default;
    };
    std::vector<Counted> counted{{main.device(), main.inode(), -1, 0}};
    std::vector<const TranscriptProgress *> kept{&main}; // what still belongs to the shown session
    counted.reserve(size_t(files.subagentFiles.size()) + 1);
    kept.reserve(size_t(files.subagentFiles.size()) + 1);
    // The subagents folder is opened once, when it holds files, and its files by name.
    const qsizetype count = files.subagentFiles.size();
    std::optional<Directory> subagentFolder;
    const qsizetype nameAt = files.subagentFolder.size() + 1;
    const auto inSubagentFolder = [&](const QString &path) {
        return path.size() > nameAt && path.startsWith(files.subagentFolder) && path.at(nameAt - 1) == u'/'
            && path.indexOf(u'/', nameAt) < 0;
    };
    std::vector<TranscriptProgress *> subagents;
    subagents.reserve(size_t(count));
    for (const SubagentFile &file : files.subagentFiles) {
        TranscriptProgress &subagent = progress[file.path];
        kept.push_back(&subagent);
        subagents.push_back(&subagent);
        if (!subagentFolder && inSubagentFolder(file.path))
            subagentFolder.emplace(files.subagentFolder);
    }
    // Each file has a progress of its own, so the files are shared out between this thread,
    // taking them from the front, and, when there are many, a helper taking them from the back,
    // the last one from the start: each reads as many as it gets to, and only the time changes.
    std::vector<std::optional<qint64>> tokens(static_cast<size_t>(count)); // of each file read
    // The files not taken yet, [front, back), as front << 32 | back: one compare-and-swap a file.
    std::atomic<quint64> untaken = quint64(count);
    const auto read = [&](qsizetype i, TranscriptReadContext &reading) {
        if (reading.stopRequested())
            return;
        const SubagentFile &file = files.subagentFiles.at(i);
        TranscriptProgress &subagent = *subagents[size_t(i)];
        const TranscriptProgress::Result result = inSubagentFolder(file.path)
            ? subagent.update(*subagentFolder, file.path.mid(nameAt), reading, file.listedRegular)
            : subagent.update(file.path, reading);
        if (result == TranscriptProgress::Result::read)
            tokens[size_t(i)] = subagent.ledger().totalTokens();
    };
    const auto readTaken = [&](bool fromBack, TranscriptReadContext &reading) {
        quint64 seen = untaken.load();
        for (;;) {
            const quint64 front = seen >> 32;
            const quint64 back = seen & 0xffffffffu;
            if (front == back)
                return;
            const quint64 left = fromBack ? (front << 32 | (back - 1)) : ((front + 1) << 32 | back);
            if (untaken.compare_exchange_weak(seen, left))
                read(qsizetype(fromBack ? back - 1 : front), reading);
        }
    };
    {
        // A file listed twice would be read by both threads at once: then one thread reads all.
        std::vector<const TranscriptProgress *> distinct(subagents.cbegin(), subagents.cend());
        std::sort(distinct.begin(), distinct.end());
        const bool shared = count >= filesForHelperThread && count < (qsizetype(1) << 31)
            && std::adjacent_find(distinct.cbegin(), distinct.cend()) == distinct.cend();
        const std::unique_ptr<TranscriptReadContext> helperContext = shared ? context.sibling() : nullptr;
        HelperThread helper;
        if (helperContext) {
            const qsizetype last = count - 1;
            untaken = quint64(last);
            if (!helper.start([&, last] {
                    read(last, *helperContext);
                    readTaken(true, *helperContext);
                }))
                untaken = quint64(count); // no helper: this thread reads them all
        }
        readTaken(false, context);
        helper.join();
        if (helperContext)
            context.bytesRead += helperContext->bytesRead;
    }
    for (qsizetype i = 0; i < count; ++i) {
        if (const std::optional<qint64> fileTokens = tokens[size_t(i)])
            counted.push_back({subagents[size_t(i)]->device(), subagents[size_t(i)]->inode(), i, *fileTokens});
    }
    std::sort(counted.begin(), counted.end());
    for (size_t i = 1; i < counted.size(); ++i) {
        if (counted[i - 1].device == counted[i].device && counted[i - 1].inode == counted[i].inode)
            counted[i].order = std::numeric_limits<qsizetype>::max(); // a second name: left out
    }
    // Summed in list order: saturation makes the order matter when counts are negative.
    std::sort(counted.begin(), counted.end(), [](const Counted &a, const Counted &b) { return a.order < b.order; });
    for (const Counted &file : counted) {
        if (file.order >= 0 && file.order != std::numeric_limits<qsizetype>::max())
            stats.totalTokens = saturatingAdd(stats.totalTokens, file.tokens);
    }
    // What no longer belongs to the shown session is forgotten.
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    if (progress.size() > kept.size()) {
        std::erase_if(progress, [&](const auto &item) {
            return !std::binary_search(kept.begin(), kept.end(), &item.second);
        });
    }
    return stats;
}

void resolveSubagentFiles(const QString &sessionId, SessionFiles &files, StatsCache &cache,
                          TranscriptReadContext &context)
{
    files.subagentFiles.clear();
    if (const std::optional<QList<DirectoryEntry>> entries = listDirectoryEntries(files.subagentFolder)) {
        files.subagentFiles.reserve(entries->size());
        for (const DirectoryEntry &entry : *entries) {
            if (entry.name.endsWith(QLatin1String(".jsonl")))
                files.subagentFiles.append({files.subagentFolder + u'/' + entry.name, entry.regular});
        }
    }
    std::set<QString> seenAgentFiles;
    std::unordered_map<QString, StatsCache::AgentOwner> &owners = cache.shown(files.transcript).agentOwners;
    for (QString &path : agentFilesOf(sessionId, files.projectFolder, owners, context, seenAgentFiles))
        files.subagentFiles.append({std::move(path), false});
    std::erase_if(owners, [&](const auto &item) { return !seenAgentFiles.count(item.first); });
}

SessionStats readSessionTokens(const QString &claudeDir, const ActiveSession &session)
{
    const TranscriptLocator locator(claudeDir);
    std::optional<SessionFiles> files = locator.locate(session);
    if (!files) {
        auto found = locator.search({session.sessionId});
        if (found.empty())
            return SessionStats();
        files = std::move(found.begin()->second);
    }
    StatsCache cache;
    TranscriptReadContext context;
    resolveSubagentFiles(session.sessionId, *files, cache, context);
    return readSessionTokens(session, *files, cache, context);
}

StatsSnapshot collectStats(const QStringList &claudeDirs, StatsCache &cache, const std::atomic<bool> *stop,
                           const QString &pinnedSessionId)
{
    StatsSnapshot snapshot;
    TranscriptReadContext context(stop);
    context.clockMs = cache.clockMs();
    for (const QString &claudeDir : claudeDirs) {
        snapshot.activeSessions += findActiveSessions(claudeDir);
        snapshot.watchPaths.append(claudeDir + QLatin1String("/sessions"));
    }
    if (context.stopRequested()) {
        snapshot.stopped = true;
        return snapshot;
    }
    const QList<std::optional<SessionFiles>> files = locateTranscripts(snapshot.activeSessions, cache);
    QList<std::optional<FileTime>> times;
    for (const std::optional<SessionFiles> &found : files)
        times.append(found ? std::optional<FileTime>(found->status.modified) : std::nullopt);
    const auto pinned = std::find_if(snapshot.activeSessions.cbegin(), snapshot.activeSessions.cend(),
                                     [&](const ActiveSession &s) { return s.sessionId == pinnedSessionId; });
    const std::optional<qsizetype> chosen = chooseSession(
        times, pinnedSessionId.isEmpty() || pinned == snapshot.activeSessions.cend()
                   ? std::nullopt
                   : std::optional<qsizetype>(pinned - snapshot.activeSessions.cbegin()));
    if (chosen) {
        ActiveSession &session = snapshot.activeSessions[*chosen];
        if (std::optional<SessionFiles> found = files[*chosen]) {
            resolveSubagentFiles(session.sessionId, *found, cache, context);
            snapshot.sessionStats = readSessionTokens(session, *found, cache, context);
            session.contextPercent = snapshot.sessionStats.contextPercent();
            snapshot.watchPaths += {found->transcript, found->subagentFolder, found->projectFolder};
            // Shown in turn with another, it needs no tail read while it stays as it is now.
            cache.tailContexts.insert_or_assign(found->transcript,
                                                StatsCache::TailContext{found->status, session.contextPercent});
        } else {
            snapshot.sessionStats.sessionId = session.sessionId;
            snapshot.sessionStats.cwd = session.cwd;
            snapshot.sessionStats.claudeDir = session.claudeDir;
            // Where the transcript of a session that has just started will appear.
            snapshot.watchPaths.append(QFileInfo(transcriptPath(session.claudeDir, session)).path());
        }
        snapshot.sessionStats.dataDirectoryCount = claudeDirs.size();
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
    if (chosen && files.at(*chosen))
        tailsUsed.insert(files.at(*chosen)->transcript);
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

StatsSnapshot collectStats(const QStringList &claudeDirs)
{
    StatsCache cache;
    return collectStats(claudeDirs, cache);
}
