#pragma once

#include "historyrecord.h"
#include "pace.h"
#include "planusage.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// The windows of the plan figures the panel merged as history records, each under its window's
// key ("five_hour", "seven_day", "seven_day:Opus", "credits", "spend"), except those of the
// status line: the bridge keeps those itself.
QList<HistoryRecord> planUsageHistoryRecords(const PlanUsage &usage);

// Keeps the figures the panel takes from Claude Code's cached report and the usage service in
// the history of the login's data directory, and compacts that history when the panel starts and
// once a day after (also while only the status line brings figures); the files are written on
// Qt's thread pool.
class PlanHistoryRecorder : public QObject
{
    Q_OBJECT

public:
    PlanHistoryRecorder(QString stateFolder, QString dataDirectory, QObject *parent = nullptr);

    void record(const PlanUsage &usage);
    void compact();

private:
    QString m_stateFolder;
    QString m_dataDirectory;
    QList<HistoryRecord> m_lastRecorded;
    QTimer m_daily;
};

// The pace of every plan window with enough recent history, read from the history of one data
// directory on Qt's thread pool.
class PlanPaceWatch : public QObject
{
    Q_OBJECT

public:
    explicit PlanPaceWatch(QString stateFolder, QObject *parent = nullptr);

    // Reads the history again and publishes the paces at the current time; a refresh asked for
    // while one runs follows it.
    void refresh(const QString &dataDirectory);

    // By window key.
    QHash<QString, Pace> paces() const { return m_paces; }
    // Whether the history has been read once: before that, no pace is no news.
    bool isRead() const { return m_read; }

signals:
    void pacesChanged();

private:
    void setPaces(const QHash<QString, Pace> &paces);

    QString m_stateFolder;
    bool m_running = false;
    bool m_read = false;
    std::optional<QString> m_pending; // the data directory of a refresh asked for while one ran
    QHash<QString, Pace> m_paces;
};
