#include "promptcache.h"

#include <QJsonArray>

#include <cmath>

namespace {

std::optional<double> number(const QJsonValue &value)
{
    return value.isDouble() && std::isfinite(value.toDouble()) ? std::optional(value.toDouble()) : std::nullopt;
}

std::optional<qint64> count(const QJsonValue &value)
{
    const std::optional<double> figure = number(value);
    return figure && *figure >= 0 && *figure < 1e15 ? std::optional(qint64(*figure)) : std::nullopt;
}

// Epoch seconds, as Claude Code sends them.
std::optional<QDateTime> instant(const QJsonValue &value)
{
    const std::optional<double> seconds = number(value);
    if (!seconds || *seconds <= 0 || *seconds >= 1e11)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(*seconds * 1000), Qt::UTC);
}

std::optional<qint64> ttl(const QJsonValue &value)
{
    const QString text = value.toString();
    if (text == QLatin1String("5m"))
        return 300;
    if (text == QLatin1String("1h"))
        return 3600;
    return std::nullopt;
}

QString ttlText(qint64 seconds)
{
    return seconds == 3600 ? QStringLiteral("1h") : QStringLiteral("5m");
}

} // namespace

std::optional<PromptCacheSample> parsePromptCache(const QJsonObject &object)
{
    const QJsonValue warm = object.value(QLatin1String("warm"));
    if (!warm.isBool())
        return std::nullopt;
    PromptCacheSample cache;
    cache.warm = warm.toBool();
    cache.ttlSeconds = ttl(object.value(QLatin1String("ttl")));
    cache.expiresAt = instant(object.value(QLatin1String("expires_at")));
    if (const std::optional<double> ratio = number(object.value(QLatin1String("hit_ratio")));
        ratio && *ratio >= 0 && *ratio <= 1)
        cache.hitRatio = ratio;
    cache.recacheTokens = count(object.value(QLatin1String("recache_tokens_if_cold")));
    cache.misses = count(object.value(QLatin1String("misses")));
    cache.lastMissAt = instant(object.value(QLatin1String("last_miss_at")));
    const QJsonArray causes =
        object.value(QLatin1String("last_miss_cause")).toObject().value(QLatin1String("causes")).toArray();
    for (const QJsonValue &cause : causes) {
        // A cause a later version adds is still a miss, only one without a known reason.
        const QString name = promptCacheMissCauses.contains(cause.toString()) ? cause.toString()
                                                                              : QStringLiteral("unknown");
        if (!cache.lastMissCauses.contains(name))
            cache.lastMissCauses << name;
    }
    return cache;
}

QJsonObject promptCacheToJson(const PromptCacheSample &cache)
{
    const auto epoch = [](const std::optional<QDateTime> &time) {
        return time ? QJsonValue(double(time->toMSecsSinceEpoch()) / 1000) : QJsonValue();
    };
    const auto figure = [](const auto &value) { return value ? QJsonValue(double(*value)) : QJsonValue(); };
    QJsonObject object{{QStringLiteral("warm"), cache.warm},
                       {QStringLiteral("ttl"),
                        cache.ttlSeconds ? QJsonValue(ttlText(*cache.ttlSeconds)) : QJsonValue()},
                       {QStringLiteral("expires_at"), epoch(cache.expiresAt)},
                       {QStringLiteral("hit_ratio"), figure(cache.hitRatio)},
                       {QStringLiteral("recache_tokens_if_cold"), figure(cache.recacheTokens)},
                       {QStringLiteral("misses"), figure(cache.misses)},
                       {QStringLiteral("last_miss_at"), epoch(cache.lastMissAt)}};
    if (!cache.lastMissCauses.isEmpty())
        object.insert(QStringLiteral("last_miss_cause"),
                      QJsonObject{{QStringLiteral("causes"), QJsonArray::fromStringList(cache.lastMissCauses)}});
    return object;
}
