#include "historyrecord.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

constexpr qint64 maxMsecs = 253402300799999; // 9999-12-31, the last instant QDateTime round-trips

std::optional<QDateTime> timeFrom(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double msecs = value.toDouble();
    if (!std::isfinite(msecs) || msecs < 0 || msecs > double(maxMsecs))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(msecs), Qt::UTC);
}

} // namespace

bool HistoryRecord::sameFigure(const HistoryRecord &other) const
{
    return window == other.window && percent == other.percent && resetsAt == other.resetsAt;
}

QByteArray historyLine(const HistoryRecord &record)
{
    QJsonObject object{{QStringLiteral("window"), record.window},
                       {QStringLiteral("percent"), record.percent},
                       {QStringLiteral("at"), double(record.at.toMSecsSinceEpoch())},
                       {QStringLiteral("source"), record.source}};
    if (record.resetsAt)
        object.insert(QStringLiteral("resetsAt"), double(record.resetsAt->toMSecsSinceEpoch()));
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<HistoryRecord> parseHistoryLine(QByteArrayView line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue window = object.value(QLatin1String("window"));
    const QJsonValue percent = object.value(QLatin1String("percent"));
    const std::optional<QDateTime> at = timeFrom(object.value(QLatin1String("at")));
    if (!window.isString() || window.toString().isEmpty() || !percent.isDouble() || !at)
        return std::nullopt;
    HistoryRecord record;
    record.window = window.toString();
    record.percent = percent.toDouble();
    record.at = *at;
    record.resetsAt = timeFrom(object.value(QLatin1String("resetsAt")));
    record.source = object.value(QLatin1String("source")).toString();
    return record;
}
