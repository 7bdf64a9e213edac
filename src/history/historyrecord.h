#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The keys plan windows are kept under. A model's own weekly window is "seven_day:<Model>"
// ("seven_day:Opus"), named as the service names the model.
namespace HistoryKey {
inline const QString fiveHour = QStringLiteral("five_hour");
inline const QString sevenDay = QStringLiteral("seven_day");
inline const QString credits = QStringLiteral("credits");
inline const QString spend = QStringLiteral("spend");
inline QString sevenDayOf(const QString &model) { return sevenDay + u':' + model; }
// The weekly windows: "seven_day" and every model's own.
inline bool isWeekly(const QString &window) { return window == sevenDay || window.startsWith(sevenDay + u':'); }
} // namespace HistoryKey

// Who saw a figure: the status-line bridge, the cached report, or the service itself.
namespace HistorySource {
inline const QString statusLine = QStringLiteral("statusline");
inline const QString cachedReport = QStringLiteral("cached");
inline const QString service = QStringLiteral("service");
} // namespace HistorySource

// One figure of one plan window at one time.
struct HistoryRecord
{
    QString window;
    double percent = 0;
    std::optional<QDateTime> resetsAt;
    QDateTime at; // UTC
    QString source;

    // Whether `other` tells nothing new about the window: the same figure and the same reset.
    bool sameFigure(const HistoryRecord &other) const;

    friend bool operator==(const HistoryRecord &, const HistoryRecord &) = default;
};

// One record as one line of JSON, with its line feed.
QByteArray historyLine(const HistoryRecord &record);
// The record of one line (without its line feed); absent when the line is torn or not a record.
std::optional<HistoryRecord> parseHistoryLine(QByteArrayView line);
