#include "historychart.h"

#include "historystore.h"
#include "pace.h"
#include "statscycle.h"

#include <QDir>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

double held(double percent)
{
    return std::clamp(percent, 0.0, 100.0);
}

// The records of one window as a stepped polyline from `from` to `now`: each figure holds until
// the next record, or drops to 0 at its reset when that comes first.
HistoryTrace quotaTrace(const QString &window, QList<HistoryRecord> records, const QDateTime &from, const QDateTime &now)
{
    HistoryTrace trace{window, historyWindowLabel(window), {}, {}};
    std::stable_sort(records.begin(), records.end(), [](const HistoryRecord &a, const HistoryRecord &b) { return a.at < b.at; });
    const auto add = [&trace, &from](QDateTime at, double percent) {
        at = std::max(at, from);
        if (!trace.points.isEmpty() && trace.points.constLast().at == at && trace.points.constLast().percent == percent)
            return;
        trace.points.append({at, held(percent)});
    };
    const auto reset = [&trace, &from](const QDateTime &at) {
        if (at >= from && (trace.resets.isEmpty() || trace.resets.constLast() != at))
            trace.resets.append(at);
    };
    for (qsizetype i = 0; i < records.size(); ++i) {
        const HistoryRecord &record = records.at(i);
        const QDateTime end = i + 1 < records.size() ? records.at(i + 1).at : now;
        if (end < from)
            continue;
        if (record.resetsAt && *record.resetsAt <= from && *record.resetsAt > record.at) {
            // Reset before the chart begins: the window stands at 0 from its left edge.
            add(from, 0);
            add(end, 0);
            continue;
        }
        add(record.at, record.percent);
        if (record.resetsAt && *record.resetsAt > record.at && *record.resetsAt < end) {
            add(*record.resetsAt, record.percent);
            reset(*record.resetsAt);
            add(*record.resetsAt, 0);
            add(end, 0);
        } else {
            add(end, record.percent);
            if (i + 1 < records.size() && !isSamePeriod(record, records.at(i + 1)))
                reset(end);
        }
    }
    return trace;
}

} // namespace

std::optional<double> HistoryTrace::valueAt(const QDateTime &at) const
{
    if (points.isEmpty() || at < points.constFirst().at || at > points.constLast().at)
        return std::nullopt;
    // The last point at or before `at` holds, unless the next one is a step at the same instant.
    const auto next = std::upper_bound(points.cbegin(), points.cend(), at,
                                       [](const QDateTime &t, const HistoryPoint &p) { return t < p.at; });
    if (next == points.cend())
        return points.constLast().percent;
    const HistoryPoint &before = *(next - 1);
    const qint64 span = before.at.msecsTo(next->at);
    if (span <= 0)
        return before.percent;
    const double t = double(before.at.msecsTo(at)) / double(span);
    return before.percent + (next->percent - before.percent) * t;
}

QString historyWindowLabel(const QString &window)
{
    if (window == HistoryKey::fiveHour)
        return QStringLiteral("5-hour");
    if (window == HistoryKey::sevenDay)
        return QStringLiteral("7-day");
    if (HistoryKey::isWeekly(window))
        return QStringLiteral("7-day ") + window.mid(HistoryKey::sevenDay.size() + 1);
    return window;
}

HistorySeries historySeries(const QList<HistoryRecord> &records, const QList<ContextPoint> &context,
                            qint64 contextWindowSize, const QDateTime &now)
{
    HistorySeries series;
    series.now = now;
    series.from = now.addDays(-historyChartDays);
    QStringList windows;
    for (const HistoryRecord &record : records)
        if ((record.window == HistoryKey::fiveHour || HistoryKey::isWeekly(record.window))
            && !windows.contains(record.window) && record.at <= now)
            windows.append(record.window);
    // The 5-hour window, then "seven_day", then the models' weekly windows by name.
    std::sort(windows.begin(), windows.end(), [](const QString &a, const QString &b) {
        const auto rank = [](const QString &w) { return w == HistoryKey::fiveHour ? 0 : w == HistoryKey::sevenDay ? 1 : 2; };
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });
    for (const QString &window : windows) {
        QList<HistoryRecord> own;
        for (const HistoryRecord &record : records)
            if (record.window == window && record.at <= now)
                own.append(record);
        HistoryTrace trace = quotaTrace(window, own, series.from, now);
        if (!trace.points.isEmpty())
            series.quotas.append(std::move(trace));
    }

    series.context.label = QStringLiteral("context");
    for (const ContextPoint &point : context) {
        const double percent = contextWindowSize > 0 ? 100.0 * double(point.tokens) / double(contextWindowSize) : 0;
        // Each call's context holds until the next call.
        if (!series.context.points.isEmpty())
            series.context.points.append({point.at, series.context.points.constLast().percent});
        series.context.points.append({point.at, held(percent)});
    }
    if (!series.context.points.isEmpty()) {
        series.contextFrom = series.context.points.constFirst().at;
        // A session still in use runs up to now; an old one ends at its last call.
        const QDateTime last = series.context.points.constLast().at;
        series.contextTo = last.secsTo(now) < 3600 && last < now ? now : last;
        if (series.contextTo == series.contextFrom)
            series.contextTo = series.contextFrom.addSecs(60);
        series.context.points.append({series.contextTo, series.context.points.constLast().percent});
    }
    return series;
}

QString historyTimeText(const QDateTime &at, const QTimeZone &zone)
{
    return QLocale::c().toString(at.toTimeZone(zone), QStringLiteral("ddd HH:mm"));
}

QString historyReadout(const QList<HistoryTrace> &traces, const QDateTime &at, const QTimeZone &zone)
{
    QString text = historyTimeText(at, zone);
    for (const HistoryTrace &trace : traces)
        if (const std::optional<double> value = trace.valueAt(at))
            text += QStringLiteral(" · %1 %2 %").arg(trace.label).arg(std::lround(*value));
    return text;
}

HistorySeries loadHistorySeries(const QString &stateFolder, const SessionStats &shown,
                                const QString &fallbackDataDirectory, const QDateTime &now,
                                ContextTimelineCache *cache)
{
    const QString dataDirectory = shown.claudeDir.isEmpty() ? fallbackDataDirectory : shown.claudeDir;
    QList<ContextPoint> context;
    if (!shown.sessionId.isEmpty() && !shown.claudeDir.isEmpty() && isPlainFileName(shown.sessionId)) {
        ActiveSession session;
        session.sessionId = shown.sessionId;
        session.cwd = shown.cwd;
        const QString path = transcriptPath(shown.claudeDir, session);
        const std::optional<FileStatus> status = fileStatus(path);
        if (cache && status && cache->path == path && cache->status == status) {
            context = cache->points;
        } else {
            context = transcriptContextTimeline(path);
            if (cache)
                *cache = {path, status, context};
        }
    }
    HistorySeries series = historySeries(HistoryStore(stateFolder).read(dataDirectory), context,
                                         shown.contextWindowSize, now);
    // As the tooltips name it: "~/.claude".
    const QString home = QDir::homePath();
    series.dataDirectory = dataDirectory.startsWith(home + u'/') ? u'~' + dataDirectory.mid(home.size()) : dataDirectory;
    series.project = projectName(shown.cwd);
    return series;
}
