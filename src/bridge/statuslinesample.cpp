#include "statuslinesample.h"

#include "claudedatadir.h"
#include "displaytext.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

std::optional<double> number(const QJsonValue &value)
{
    return value.isDouble() && std::isfinite(value.toDouble()) ? std::optional(value.toDouble()) : std::nullopt;
}

// resets_at is epoch seconds; an ISO 8601 text is read too, in case a version sends one.
std::optional<QDateTime> instant(const QJsonValue &value)
{
    if (const std::optional<double> seconds = number(value); seconds && *seconds > 0 && *seconds < 1e11)
        return QDateTime::fromMSecsSinceEpoch(qint64(*seconds * 1000), Qt::UTC);
    const QDateTime parsed = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return parsed.isValid() ? std::optional(parsed.toUTC()) : std::nullopt;
}

std::optional<PlanWindowSample> planWindow(const QJsonValue &value, const QDateTime &receivedAt)
{
    const QJsonObject window = value.toObject();
    const std::optional<double> used = number(window.value(QLatin1String("used_percentage")));
    if (!used || *used < 0)
        return std::nullopt;
    return PlanWindowSample{*used, instant(window.value(QLatin1String("resets_at"))), receivedAt};
}

// Held to 0-100: a figure past the limit says so instead of showing a number no plan has.
QString percent(double value)
{
    if (value > 100)
        return QStringLiteral(">100%");
    return QString::number(std::llround(std::max(value, 0.0))) + u'%';
}

// A reset further off than this is a wrong date, not a countdown worth showing.
constexpr qint64 maxCountdownSeconds = 30 * 86400;

QString countdown(qint64 seconds)
{
    const qint64 minutes = seconds / 60;
    if (minutes >= 24 * 60)
        return QStringLiteral("%1 d %2 h").arg(minutes / (24 * 60)).arg(minutes % (24 * 60) / 60);
    if (minutes >= 60)
        return QStringLiteral("%1 h %2 m").arg(minutes / 60).arg(minutes % 60);
    return QStringLiteral("%1 m").arg(minutes);
}

} // namespace

QString payloadDataDirectory(const QString &transcriptPath, const QString &configDirVariable, const QString &homeDir)
{
    // <data directory>/projects/<project folder>/<session>.jsonl
    const QString transcript = QDir::cleanPath(transcriptPath);
    if (QDir::isAbsolutePath(transcript)) {
        const QFileInfo projects(QFileInfo(QFileInfo(transcript).path()).path());
        if (projects.fileName() == QLatin1String("projects") && projects.path() != transcript)
            return projects.path();
    }
    return claudeDataDirectory(homeDir, configDirVariable);
}

std::optional<StatusLineSample> parseStatusLinePayload(const QByteArray &payload, const QDateTime &receivedAt,
                                                       const QString &configDirVariable, const QString &homeDir)
{
    if (payload.size() > maxStatusLinePayload)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const auto text = [](const QJsonObject &object, const char *key) {
        return object.value(QLatin1String(key)).toString();
    };

    StatusLineSample sample;
    SessionSample &session = sample.session;
    session.sessionId = text(root, "session_id");
    session.dataDirectory = payloadDataDirectory(text(root, "transcript_path"), configDirVariable, homeDir);
    session.cwd = text(root, "cwd");
    if (session.cwd.isEmpty())
        session.cwd = text(root.value(QLatin1String("workspace")).toObject(), "current_dir");
    const QJsonObject model = root.value(QLatin1String("model")).toObject();
    session.modelId = text(model, "id");
    session.modelName = text(model, "display_name");
    const QJsonObject context = root.value(QLatin1String("context_window")).toObject();
    if (const std::optional<double> size = number(context.value(QLatin1String("context_window_size")));
        size && *size >= 1 && *size < 1e15)
        session.contextWindowSize = qint64(*size);
    if (const std::optional<double> used = number(context.value(QLatin1String("used_percentage"))); used && *used >= 0)
        session.contextUsedPercent = used;
    if (const std::optional<double> cost = number(root.value(QLatin1String("cost")).toObject().value(
            QLatin1String("total_cost_usd")));
        cost && *cost >= 0)
        session.costUsd = cost;
    session.receivedAt = receivedAt;
    session.promptCache = parsePromptCache(root.value(QLatin1String("prompt_cache")).toObject());

    const QJsonObject limits = root.value(QLatin1String("rate_limits")).toObject();
    sample.fiveHour = planWindow(limits.value(QLatin1String("five_hour")), receivedAt);
    sample.sevenDay = planWindow(limits.value(QLatin1String("seven_day")), receivedAt);
    sample.spend = planWindow(limits.value(QLatin1String("spend_limit")), receivedAt);
    return sample;
}

QString statusLineText(const StatusLineSample &sample, const QDateTime &now)
{
    QStringList parts;
    const QString project = sanitizedDisplayText(QFileInfo(QDir::cleanPath(sample.session.cwd)).fileName());
    if (!project.isEmpty())
        parts << project;
    if (sample.session.contextUsedPercent)
        parts << QStringLiteral("ctx ") + percent(*sample.session.contextUsedPercent);
    if (sample.fiveHour) {
        QString five = QStringLiteral("5h ") + percent(sample.fiveHour->usedPercent);
        if (const qint64 left = sample.fiveHour->resetsAt ? now.secsTo(*sample.fiveHour->resetsAt) : 0;
            left > 0 && left <= maxCountdownSeconds)
            five += QStringLiteral(" (%1)").arg(countdown(left));
        parts << five;
    }
    if (sample.sevenDay)
        parts << QStringLiteral("7d ") + percent(sample.sevenDay->usedPercent);
    return parts.join(QStringLiteral(" \u00B7 "));
}
