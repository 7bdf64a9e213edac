#pragma once

#include "historyrecord.h"
#include "planusage.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

class PlanUsageFetcher;

// The windows of a plan report as history records from `source`: "five_hour", and the weekly
// figure as "seven_day" or, when it comes from a model's own limit, "seven_day:<Model>".
QList<HistoryRecord> planUsageHistoryRecords(const PlanUsage &usage, const QString &source);

// Keeps the figures the panel fetches in the history of the login's data directory, on Qt's
// thread pool, and compacts that history when the panel starts and once a day after.
class PlanHistoryRecorder : public QObject
{
    Q_OBJECT

public:
    PlanHistoryRecorder(QString stateFolder, QString dataDirectory, QObject *parent = nullptr);

    void follow(const PlanUsageFetcher &fetcher);
    void record(const PlanUsage &usage, const QString &source);

private:
    QString m_stateFolder;
    QString m_dataDirectory;
    QDateTime m_compactedAt;
};
