#pragma once

// A temporary data directory laid out like Claude Code's, and transcript lines shaped like the
// ones it writes, for the stats tests.

#include "sessionstats.h"
#include "statscycle.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

inline char *toString(const SessionStats &stats)
{
    return QTest::toString(QStringLiteral("(total %1, context %2, output %3, window %4, model \"%5\")")
                               .arg(stats.totalTokens).arg(stats.lastContextTokens).arg(stats.lastOutputTokens)
                               .arg(stats.contextWindowSize).arg(stats.model));
}

// An assistant line as Claude Code writes it, with the newer usage members; an empty id leaves
// "id" out.
inline QByteArray usageLine(const QByteArray &id, qint64 input, qint64 output, qint64 cacheCreate = 0,
                            qint64 cacheRead = 0, const QByteArray &model = {}, bool sidechain = false,
                            const QByteArray &version = "2.1.42")
{
    QByteArray message = "{";
    if (!id.isEmpty())
        message += "\"id\":\"" + id + "\",";
    if (!model.isEmpty())
        message += "\"model\":\"" + model + "\",";
    message += "\"type\":\"message\",\"role\":\"assistant\",\"content\":[{\"type\":\"text\",\"text\":\"ok\"}],"
               "\"usage\":{\"input_tokens\":" + QByteArray::number(input)
        + ",\"cache_creation_input_tokens\":" + QByteArray::number(cacheCreate)
        + ",\"cache_read_input_tokens\":" + QByteArray::number(cacheRead)
        + ",\"cache_creation\":{\"ephemeral_5m_input_tokens\":0,\"ephemeral_1h_input_tokens\":0},"
          "\"output_tokens\":" + QByteArray::number(output)
        + ",\"server_tool_use\":{\"web_search_requests\":0},\"service_tier\":\"standard\",\"speed\":\"fast\"}}";
    return "{\"parentUuid\":\"p\",\"isSidechain\":" + QByteArray(sidechain ? "true" : "false")
        + ",\"userType\":\"external\",\"cwd\":\"/home/ana/app\",\"sessionId\":\"s1\",\"version\":\"" + version
        + "\",\"type\":\"assistant\",\"message\":" + message + ",\"uuid\":\"u\"}\n";
}

// Lines that must count nothing: progress lines with a subagent's usage nested inside, a Task
// result with its own usage, a compact boundary and summary, a <synthetic> reply with zero
// usage, and two calls glued on one line.
inline QByteArray linesWithoutTokens()
{
    const QByteArray nested = usageLine("sub", 500, 50).trimmed();
    return "{\"type\":\"progress\",\"data\":{\"type\":\"agent_progress\",\"message\":" + nested
        + "},\"sessionId\":\"s1\",\"version\":\"2.0.76\"}\n"
          "{\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":[{\"type\":\"tool_result\"}]},"
          "\"toolUseResult\":{\"status\":\"completed\",\"usage\":{\"input_tokens\":12,\"output_tokens\":840}}}\n"
          "{\"type\":\"system\",\"subtype\":\"compact_boundary\",\"compactMetadata\":{\"preTokens\":155000}}\n"
          "{\"type\":\"user\",\"isCompactSummary\":true,\"message\":{\"role\":\"user\",\"content\":\"go on\"}}\n"
        + usageLine("syn", 0, 0, 0, 0, "<synthetic>") + usageLine("g1", 70, 7).trimmed() + usageLine("g2", 80, 8);
}

// The pid of a child that has exited and been reaped.
inline qint64 exitedPid()
{
    QProcess child;
    child.start(QStringLiteral("/bin/true"), {});
    if (!child.waitForStarted())
        return 0;
    const qint64 pid = child.processId();
    child.waitForFinished();
    return pid;
}

inline bool writeFile(const QString &path, const QByteArray &data, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(QDir::cleanPath(path));
    QDir().mkpath(QFileInfo(file).absolutePath());
    return file.open(mode) && file.write(data) == data.size();
}

inline bool setModificationTime(const QString &path, const QDateTime &time)
{
    const qint64 ms = time.toMSecsSinceEpoch();
    const timespec times[2] = {{time_t(ms / 1000), long(ms % 1000) * 1000000},
                               {time_t(ms / 1000), long(ms % 1000) * 1000000}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

inline bool makeFifo(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

inline QByteArray recordJson(const ActiveSession &session)
{
    return "{\"pid\":" + QByteArray::number(session.pid) + ",\"sessionId\":\"" + session.sessionId.toUtf8()
        + "\",\"cwd\":\"" + session.cwd.toUtf8()
        + "\",\"startedAt\":" + QByteArray::number(session.startedAt.toMSecsSinceEpoch()) + "}";
}

class StatsHome
{
public:
    QString claudeDir() const { return m_dir.path() + QLatin1String("/.claude"); }
    // A path beside the data directory.
    QString dataPath(const QString &name) const { return m_dir.path() + u'/' + name; }
    QString sessionsDir() const { return claudeDir() + QLatin1String("/sessions"); }

    void writeRecord(const QString &name, const QByteArray &json)
    {
        QVERIFY(writeFile(sessionsDir() + u'/' + name, json));
    }

    // A session record for `session` in <name>.json.
    void writeSession(const QString &name, const ActiveSession &session)
    {
        writeRecord(name + QLatin1String(".json"), recordJson(session));
    }

    QString transcriptPath(const ActiveSession &session) const { return ::transcriptPath(claudeDir(), session); }

    // A file in the session's project folder, or in its subagents folder.
    QString projectPath(const ActiveSession &session, const QString &name) const
    {
        return QFileInfo(transcriptPath(session)).path() + u'/' + name;
    }
    QString subagentPath(const ActiveSession &session, const QString &name) const
    {
        return projectPath(session, session.sessionId + QLatin1String("/subagents/") + name);
    }

    void writeTranscript(const ActiveSession &session, const QByteArray &data,
                         const QDateTime &modified = {})
    {
        QVERIFY(writeFile(transcriptPath(session), data));
        if (modified.isValid())
            QVERIFY(setModificationTime(transcriptPath(session), modified));
    }

private:
    QTemporaryDir m_dir;
};

inline ActiveSession session(qint64 pid, const QString &id, const QString &cwd = QStringLiteral("/home/ana/app"))
{
    return {pid, id, cwd, QDateTime::fromMSecsSinceEpoch(1733400000000, Qt::UTC), {}, {}};
}
