#pragma once

// A temporary data directory laid out like Claude Code's, for the stats tests.

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
    return QTest::toString(QStringLiteral("(total %1, context %2, output %3, window %4)")
                               .arg(stats.totalTokens)
                               .arg(stats.lastContextTokens)
                               .arg(stats.lastOutputTokens)
                               .arg(stats.contextWindowSize));
}

// One transcript line with usage; an empty id leaves "id" out.
inline QByteArray usageLine(const QByteArray &id, qint64 input, qint64 output, qint64 cacheCreate = 0,
                            qint64 cacheRead = 0, const QByteArray &model = {})
{
    QByteArray message = "{";
    if (!id.isEmpty())
        message += "\"id\":\"" + id + "\",";
    if (!model.isEmpty())
        message += "\"model\":\"" + model + "\",";
    message += "\"usage\":{\"input_tokens\":" + QByteArray::number(input)
        + ",\"output_tokens\":" + QByteArray::number(output)
        + ",\"cache_creation_input_tokens\":" + QByteArray::number(cacheCreate)
        + ",\"cache_read_input_tokens\":" + QByteArray::number(cacheRead) + "}}";
    return "{\"type\":\"assistant\",\"message\":" + message + "}\n";
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

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
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

    QString subagentPath(const ActiveSession &session, const QString &name) const
    {
        return claudeDir() + QLatin1String("/projects/") + encodeCwd(session.cwd) + u'/' + session.sessionId
            + QLatin1String("/subagents/") + name;
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
    return {pid, id, cwd, QDateTime::fromMSecsSinceEpoch(1733400000000, Qt::UTC), {}};
}
