#include "pace.h"

#include "windowrule.h"

#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 minimumBasisSeconds = 10 * 60;

// "30 min", "1 h 20 min", "24 h".
QString durationText(qint64 seconds)
{
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    if (minutes % 60 == 0)
        return QStringLiteral("%1 h").arg(minutes / 60);
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

// "16:40" today, "Tue 16:40" on another day.
QString clockText(const QDateTime &when, const QDateTime &now, const QTimeZone &zone)
{
    const QDateTime local = when.toTimeZone(zone);
    if (local.date() == now.toTimeZone(zone).date())
        return local.toString(QStringLiteral("HH:mm"));
    return QLocale::c().toString(local, QStringLiteral("ddd HH:mm"));
}

} // namespace

bool isSamePeriod(const HistoryRecord &earlier, const HistoryRecord &later)
{
    if (earlier.resetsAt && later.resetsAt)
        return isSameWindow(earlier.resetsAt, later.resetsAt);
    return earlier.percent <= later.percent;
}

qint64 paceSpanSeconds(const QString &window)
{
    return window == HistoryKey::fiveHour ? 30 * 60 : 24 * 3600;
}

std::optional<Pace> windowPace(const QList<HistoryRecord> &records, const QString &window, const QDateTime &now)
{
    QList<HistoryRecord> history;
    for (const HistoryRecord &record : records)
        if (record.window == window && record.at <= now)
            history.append(record);
    // Records from a clock that jumped back are taken in the order of their times.
    std::stable_sort(history.begin(), history.end(),
                     [](const HistoryRecord &a, const HistoryRecord &b) { return a.at < b.at; });
    if (history.isEmpty())
        return std::nullopt;
    const HistoryRecord &latest = history.constLast();
    if (latest.resetsAt && *latest.resetsAt <= now)
        return std::nullopt;
    qsizetype first = history.size() - 1;
    while (first > 0 && isSamePeriod(history.at(first - 1), history.at(first)))
        --first;

    // The figure when the span began is that of the last record before it, if the period had begun.
    const QDateTime spanStart = now.addSecs(-paceSpanSeconds(window));
    QDateTime basisStart = history.at(first).at;
    double startPercent = history.at(first).percent;
    for (qsizetype i = first; i < history.size() && history.at(i).at <= spanStart; ++i) {
        basisStart = spanStart;
        startPercent = history.at(i).percent;
    }
    const qint64 basis = basisStart.secsTo(now);
    if (basis < minimumBasisSeconds)
        return std::nullopt;

    Pace pace;
    pace.basisSeconds = basis;
    pace.resetsAt = latest.resetsAt;
    pace.ratePerHour = std::max(0.0, (latest.percent - startPercent) * 3600.0 / double(basis));
    if (pace.ratePerHour > 0) {
        const double hoursLeft = std::max(0.0, 100.0 - latest.percent) / pace.ratePerHour;
        pace.runOutAt = now.addSecs(qint64(std::llround(std::min(hoursLeft, 24.0 * 365) * 3600)));
        if (pace.resetsAt && *pace.runOutAt < *pace.resetsAt) {
            pace.beforeReset = true;
            pace.minutesBeforeReset = pace.runOutAt->secsTo(*pace.resetsAt) / 60;
        }
    }
    return pace;
}

QString paceSentence(const Pace &pace, const QDateTime &now, const QTimeZone &zone)
{
    const QString basis = durationText(pace.basisSeconds);
    if (!pace.runOutAt)
        return QStringLiteral("no rise in the last %1").arg(basis);
    QString sentence = QStringLiteral("at the pace of the last %1, 100 % at %2").arg(basis, clockText(*pace.runOutAt, now, zone));
    if (pace.beforeReset && pace.minutesBeforeReset)
        sentence += QStringLiteral(", %1 before the reset").arg(durationText(*pace.minutesBeforeReset * 60));
    else if (pace.resetsAt)
        sentence += QStringLiteral(", after the reset");
    return sentence;
}

QString paceCaption(const Pace &pace, const QDateTime &now, const QTimeZone &zone)
{
    if (!pace.beforeReset || !pace.runOutAt)
        return {};
    return QStringLiteral("100 % AT %1").arg(clockText(*pace.runOutAt, now, zone).toUpper());
}

QHash<QString, Pace> windowPaces(const QList<HistoryRecord> &records, const QDateTime &now)
{
    QSet<QString> windows;
    for (const HistoryRecord &record : records)
        windows.insert(record.window);
    QHash<QString, Pace> paces;
    for (const QString &window : std::as_const(windows))
        if (const std::optional<Pace> pace = windowPace(records, window, now))
            paces.insert(window, *pace);
    return paces;
}
