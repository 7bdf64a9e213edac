#include "statscycle.h"

#include "fileaccess.h"
#include "sessionrecords.h"
#include "transcriptaccounting.h"


namespace {

QString projectFolder(const QString &claudeDir, const ActiveSession &session)
{
    return claudeDir + QLatin1String("/projects/") + encodeCwd(session.cwd);
}

} // namespace

QString encodeCwd(const QString &cwd)
{
    QString encoded = cwd.startsWith(u'/') ? cwd.mid(1) : cwd;
    encoded.replace(u'/', u'-');
    return u'-' + encoded;
}

QString transcriptPath(const QString &claudeDir, const ActiveSession &session)
{
    return projectFolder(claudeDir, session) + u'/' + session.sessionId + QLatin1String(".jsonl");
}

std::optional<FileTime> jsonlModificationDate(const QString &claudeDir, const ActiveSession &session)
{
    return modificationTime(transcriptPath(claudeDir, session));
}

SessionStats readSessionTokens(const QString &claudeDir, const ActiveSession &session,
                               qint64 *bytesRead)
{
    SessionStats stats;
    const auto entries = deduplicateFile(transcriptPath(claudeDir, session), bytesRead);
    if (!entries)
        return stats;

    const UsageEntry *last = nullptr;
    QString lastModel;
    for (const UsageEntry &entry : *entries) {
        stats.totalTokens = saturatingAdd(stats.totalTokens, entry.total());
        if (entry.bearsContext()) {
            last = &entry;
            if (!entry.model.isEmpty())
                lastModel = entry.model;
        }
    }
    if (last) {
        stats.lastContextTokens =
            saturatingAdd(saturatingAdd(last->input, last->cacheRead), last->cacheCreate);
        stats.lastOutputTokens = last->output;
    }
    stats.contextWindowSize = contextWindowForModel(lastModel);

    const QString subagentDir =
        projectFolder(claudeDir, session) + u'/' + session.sessionId + QLatin1String("/subagents");
    const std::optional<QStringList> names = listDirectory(subagentDir);
    if (!names)
        return stats;
    for (const QString &name : *names) {
        if (!name.endsWith(QLatin1String(".jsonl")))
            continue;
        const auto subagentEntries = deduplicateFile(subagentDir + u'/' + name, bytesRead);
        if (!subagentEntries)
            continue;
        for (const UsageEntry &entry : *subagentEntries)
            stats.totalTokens = saturatingAdd(stats.totalTokens, entry.total());
    }
    return stats;
}

SessionStats chooseSessionStats(
    const QList<ActiveSession> &sessions,
    const std::function<std::optional<FileTime>(const ActiveSession &)> &modificationTime,
    const std::function<SessionStats(const ActiveSession &)> &readTokens)
{
    SessionStats chosen;
    std::optional<FileTime> latest; // absent plays the distant past: earlier than any file time
    for (const ActiveSession &session : sessions) {
        const std::optional<FileTime> time = modificationTime(session);
        if (time ? (!latest || *time > *latest) : !latest) {
            chosen = readTokens(session);
            if (time)
                latest = time;
        }
    }
    return chosen;
}

StatsSnapshot collectStats(const QString &claudeDir)
{
    StatsSnapshot snapshot;
    snapshot.activeSessions = findActiveSessions(claudeDir);
    snapshot.sessionStats = chooseSessionStats(
        snapshot.activeSessions,
        [&](const ActiveSession &session) { return jsonlModificationDate(claudeDir, session); },
        [&](const ActiveSession &session) { return readSessionTokens(claudeDir, session, &snapshot.bytesRead); });
    return snapshot;
}
