// The plan usage report: its JSON body and the service's ISO 8601 timestamps.
#include "planreport.h"
#include "planusagefetcher.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTime>

#include <cmath>

namespace {

// The "resets_at" instant of a window or limit entry; absent when missing or unreadable.
std::optional<QDateTime> resetInstant(const QJsonObject &object)
{
    const QJsonValue reset = object.value(QLatin1String("resets_at"));
    return PlanUsageFetcher::parseDate(reset.isString() ? std::optional(reset.toString()) : std::nullopt);
}

std::optional<double> finiteNumber(const QJsonValue &value)
{
    return value.isDouble() && std::isfinite(value.toDouble()) ? std::optional(value.toDouble()) : std::nullopt;
}

// Adds a window, or raises the one of the same key already read to the higher figure.
void addWindow(QList<PlanWindow> &windows, const PlanWindow &window)
{
    for (PlanWindow &known : windows) {
        if (known.key() != window.key())
            continue;
        const bool active = known.active || window.active;
        if (window.utilization > known.utilization)
            known = window;
        known.active = active;
        return;
    }
    windows.append(window);
}

// A flat window ("five_hour", "seven_day"): null, missing or without a figure leaves it out.
void readFlatWindow(const QJsonObject &report, const char *name, PlanWindow window, QList<PlanWindow> &windows)
{
    const QJsonObject object = report.value(QLatin1String(name)).toObject();
    const std::optional<double> utilization = finiteNumber(object.value(QLatin1String("utilization")));
    if (!utilization)
        return;
    window.utilization = *utilization;
    window.resetsAt = resetInstant(object);
    addWindow(windows, window);
}

// The entries of "limits": "session" is the 5-hour window, "weekly_all" the weekly window of all
// models, "weekly_scoped" the weekly window of the model its scope names.
void readLimits(const QJsonObject &report, const PlanWindow &base, QList<PlanWindow> &windows)
{
    for (const QJsonValue &entry : report.value(QLatin1String("limits")).toArray()) {
        const QJsonObject limit = entry.toObject();
        const QString kind = limit.value(QLatin1String("kind")).toString();
        const std::optional<double> percent = finiteNumber(limit.value(QLatin1String("percent")));
        if (!percent)
            continue;
        PlanWindow window = base;
        if (kind == QLatin1String("session")) {
            window.kind = PlanWindowKind::fiveHour;
        } else if (kind == QLatin1String("weekly_all") || kind == QLatin1String("weekly_scoped")) {
            window.kind = PlanWindowKind::weekly;
            if (kind == QLatin1String("weekly_scoped"))
                window.scope = limit.value(QLatin1String("scope"))
                                   .toObject()
                                   .value(QLatin1String("model"))
                                   .toObject()
                                   .value(QLatin1String("display_name"))
                                   .toString()
                                   .trimmed();
        } else {
            continue;
        }
        window.utilization = *percent;
        window.resetsAt = resetInstant(limit);
        window.active = limit.value(QLatin1String("is_active")).toBool();
        addWindow(windows, window);
    }
}

// The month's usage credits, when turned on: their utilisation, else used of the monthly limit.
void readCredits(const QJsonObject &report, PlanWindow window, QList<PlanWindow> &windows)
{
    const QJsonObject extra = report.value(QLatin1String("extra_usage")).toObject();
    if (!extra.value(QLatin1String("is_enabled")).toBool())
        return;
    std::optional<double> utilization = finiteNumber(extra.value(QLatin1String("utilization")));
    const std::optional<double> used = finiteNumber(extra.value(QLatin1String("used_credits")));
    const std::optional<double> limit = finiteNumber(extra.value(QLatin1String("monthly_limit")));
    if (!utilization && used && limit && *limit > 0)
        utilization = *used / *limit * 100;
    if (!utilization)
        return;
    window.kind = PlanWindowKind::credits;
    window.utilization = *utilization;
    windows.append(window);
}

// A strict reader over the timestamp text: fixed-width digit fields and literal separators.
class TimestampReader
{
public:
    explicit TimestampReader(const QString &text) : m_text(text) { }

    bool atEnd() const { return m_pos == m_text.size(); }
    bool peek(QChar c) const { return m_pos < m_text.size() && m_text[m_pos] == c; }
    bool take(QChar c)
    {
        if (!peek(c))
            return false;
        ++m_pos;
        return true;
    }
    // Exactly `width` ASCII digits followed by `separator`.
    std::optional<int> numberThen(int width, QChar separator)
    {
        const std::optional<int> value = number(width);
        return value && take(separator) ? value : std::nullopt;
    }
    // Exactly `width` ASCII digits.
    std::optional<int> number(int width)
    {
        int value = 0;
        for (int i = 0; i < width; ++i) {
            if (m_pos >= m_text.size())
                return std::nullopt;
            const char16_t c = m_text[m_pos].unicode();
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * 10 + (c - u'0');
            ++m_pos;
        }
        return value;
    }
    // One or more ASCII digits; returns how many and the first three as milliseconds.
    std::optional<std::pair<qsizetype, int>> fraction()
    {
        qsizetype count = 0;
        int millis = 0;
        while (m_pos < m_text.size() && m_text[m_pos] >= u'0' && m_text[m_pos] <= u'9') {
            if (count < 3)
                millis = millis * 10 + (m_text[m_pos].unicode() - u'0');
            ++count;
            ++m_pos;
        }
        if (count == 0)
            return std::nullopt;
        for (qsizetype i = count; i < 3; ++i)
            millis *= 10;
        return std::pair(count, millis);
    }

private:
    const QString &m_text;
    qsizetype m_pos = 0;
};

} // namespace

std::optional<PlanUsage> PlanUsageFetcher::parse(const QByteArray &body, const QDateTime &fetchedAt)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    // An object without any window is a plan without these limits, not a bad reply.
    PlanUsage usage =
        PlanUsage::fromWindows(planWindowsFromReport(document.object(), PlanSource::usageService, fetchedAt), {});
    usage.fetchedAt = fetchedAt;
    return usage;
}

QList<PlanWindow> planWindowsFromReport(const QJsonObject &report, PlanSource source, const QDateTime &asOf)
{
    PlanWindow base;
    base.source = source;
    base.asOf = asOf;
    QList<PlanWindow> windows;
    PlanWindow weekly = base;
    weekly.kind = PlanWindowKind::weekly;
    readFlatWindow(report, "five_hour", base, windows);
    readFlatWindow(report, "seven_day", weekly, windows);
    readLimits(report, base, windows);
    readCredits(report, base, windows);
    return windows;
}

// Accepts the service's forms: internet date-time with or without fractional seconds (any
// number of digits) and a "Z" or "+hh:mm" zone, and the pattern forms with exactly six
// fraction digits or none, whose zone may also be "+hhmm". Fields out of range give absent.
std::optional<QDateTime> PlanUsageFetcher::parseDate(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    TimestampReader in(*text);
    // "yyyy-MM-ddTHH:mm:ss": all six fields must read, or the text is not a timestamp.
    const auto year = in.numberThen(4, u'-');
    const auto month = in.numberThen(2, u'-');
    const auto day = in.numberThen(2, u'T');
    const auto hour = in.numberThen(2, u':');
    const auto minute = in.numberThen(2, u':');
    const auto second = in.number(2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;

    std::optional<std::pair<qsizetype, int>> fraction;
    if (in.take(u'.')) {
        fraction = in.fraction();
        if (!fraction)
            return std::nullopt;
    }

    int offsetSeconds = 0;
    if (!in.take(u'Z')) {
        const bool west = in.peek(u'-');
        if (!in.take(u'+') && !in.take(u'-'))
            return std::nullopt;
        const auto offsetHours = in.number(2);
        if (!offsetHours)
            return std::nullopt;
        const bool colon = in.take(u':');
        // "+hhmm" belongs to the pattern forms only: no fraction or exactly six digits.
        if (!colon && fraction && fraction->first != 6)
            return std::nullopt;
        const auto offsetMinutes = in.number(2);
        if (!offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (*offsetHours * 3600 + *offsetMinutes * 60) * (west ? -1 : 1);
    }
    if (!in.atEnd())
        return std::nullopt;

    // QDate and QTime reject month 13, 31 April, 29 February off leap years, hour 24, minute 60.
    const QDate date(*year, *month, *day);
    const QTime time(*hour, *minute, *second, fraction ? fraction->second : 0);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}
