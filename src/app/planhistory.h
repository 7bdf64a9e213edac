#pragma once

#include "historyrecord.h"
#include "pace.h"
#include "planusage.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class PlanUsageFetcher;

// The windows of a plan report as history records from `source`: "five_hour", and the weekly
// figure as "seven_day" or, when it comes from a model's own limit, "seven_day:<Model>".
QList<HistoryRecord> planUsageHistoryRecords(const PlanUsage &usage, const QString &source);

// Keeps the figures the panel fetches in the history of the login's data directory, and
// compacts that history when the panel starts and once a day after (also while only the status
// line brings figures); the files are written on Qt's thread pool.
class PlanHistoryRecorder : public QObject
{
    Q_OBJECT

public:
    PlanHistoryRecorder(QString stateFolder, QString dataDirectory, QObject *parent = nullptr);

    void follow(const PlanUsageFetcher &fetcher);
    void record(const PlanUsage &usage, const QString &source);
    void compact();

private:
    QString m_stateFolder;
    QString m_dataDirectory;
    QTimer m_daily;
};

// The pace of the 5-hour window and of the weekly one the panel shows ("seven_day", or a model's
// own), read from the history of one data directory on Qt's thread pool.
class PlanPaceWatch : public QObject
{
    Q_OBJECT

public:
    explicit PlanPaceWatch(QString stateFolder, QObject *parent = nullptr);

    // Reads the history again and publishes the paces at the current time; a refresh asked for
    // while one runs follows it.
    void refresh(const QString &dataDirectory, const std::optional<QString> &weeklyScope);

    std::optional<Pace> fiveHour() const { return m_fiveHour; }
    std::optional<Pace> weekly() const { return m_weekly; }

signals:
    void pacesChanged();

private:
    struct Paces
    {
        std::optional<Pace> fiveHour;
        std::optional<Pace> weekly;
    };
    void setPaces(const Paces &paces);

    QString m_stateFolder;
    bool m_running = false;
    std::optional<std::pair<QString, std::optional<QString>>> m_pending;
    std::optional<Pace> m_fiveHour;
    std::optional<Pace> m_weekly;
};
