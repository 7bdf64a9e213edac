#include "sessionrecords.h"

#include "fileaccess.h"
#include "jsondocument.h"
#include "statslog.h"
#include "processes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <signal.h>

namespace {

std::optional<QString> stringMember(simdjson::dom::object object, std::string_view key)
{
    const auto value = jsondocument::member(object, key);
    std::string_view text;
    if (!value || value->get_string().get(text))
        return std::nullopt;
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Milliseconds since 1970 as an instant. The value is held to the range JavaScript dates can
// take (the writer of these records is a JavaScript program), so no number can overflow.
QDateTime instantFromMilliseconds(double milliseconds)
{
    constexpr double limit = 8.64e15;
    const double clamped = std::clamp(milliseconds, -limit, limit);
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(clamped)), Qt::UTC);
}

} // namespace

std::optional<ActiveSession> parseSessionRecord(QByteArrayView data)
{
    const simdjson::padded_string padded(data.data(), size_t(data.size()));
    simdjson::dom::parser parser;
    std::string scratch;
    simdjson::dom::element document;
    simdjson::dom::object record;
    if (jsondocument::parse(parser, padded.data(), padded.size(), scratch).get(document)
        || document.get_object().get(record))
        return std::nullopt;

    const auto pidValue = jsondocument::member(record, "pid");
    const std::optional<qint64> integralPid =
        pidValue ? jsondocument::integralValue(*pidValue) : std::nullopt;
    const qint64 pid = integralPid.value_or(0);
    const std::optional<QString> sessionId = stringMember(record, "sessionId");
    const std::optional<QString> cwd = stringMember(record, "cwd");
    const auto startedAtValue = jsondocument::member(record, "startedAt");
    if (!integralPid || !sessionId || !cwd || !startedAtValue || !startedAtValue->is_number())
        return std::nullopt;
    // 0 and negative pids address process groups in a signal probe and would always look alive.
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max())
        return std::nullopt;
    const double startedAt = startedAtValue->get_double().value_unsafe();
    return ActiveSession{pid, *sessionId, *cwd, instantFromMilliseconds(startedAt), {}, {}};
}

bool isRunningProcess(qint64 pid, const ProcessProbe &probe)
{
    if (!isProcessRunning(pid))
        return false;
    const std::optional<ProcessStatus> status = probe.status(pid);
    return !status || !status->zombie;
}

bool isLiveRecord(qint64 pid, qint64 recordModifiedMs, const ProcessProbe &probe)
{
    constexpr qint64 startSlackMs = 60000;
    if (!isProcessRunning(pid))
        return false;
    const std::optional<ProcessStatus> status = probe.status(pid);
    if (!status)
        return true;
    return !status->zombie && (!status->startedMs || *status->startedMs - recordModifiedMs <= startSlackMs);
}

QList<ActiveSession> findActiveSessions(const QString &claudeDir, const ProcessProbe &probe)
{
    QList<ActiveSession> sessions;
    const QString sessionsDir = claudeDir + QLatin1String("/sessions");
    const std::optional<QStringList> names = listDirectory(sessionsDir);
    if (!names) {
        qCDebug(lcStats) << "cannot list" << sessionsDir;
        return sessions;
    }
    for (const QString &name : *names) {
        if (!name.endsWith(QLatin1String(".json")))
            continue;
        const QString path = sessionsDir + u'/' + name;
        const std::optional<FileStatus> status = fileStatus(path);
        const std::optional<QByteArray> data = status ? readRegularFile(path, maxSessionRecordBytes) : std::nullopt;
        std::optional<ActiveSession> session = data ? parseSessionRecord(*data) : std::nullopt;
        if (!session) {
            qCDebug(lcStats) << "skipping session record" << name;
            continue;
        }
        const qint64 modifiedMs = status->modified.seconds * 1000 + status->modified.nanoseconds / 1000000;
        if (!isLiveRecord(session->pid, modifiedMs, probe)) {
            qCDebug(lcStats) << "session record" << name << "names no Claude Code that wrote it";
            continue;
        }
        session->claudeDir = claudeDir;
        sessions.append(std::move(*session));
    }
    return sessions;
}


