#include "planhistory.h"

#include "applog.h"
#include "historystore.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

QList<HistoryRecord> planUsageHistoryRecords(const PlanUsage &usage)
{
    QList<HistoryRecord> records;
    for (const PlanWindow &window : usage.shownWindows()) {
        if (window.source == PlanSource::statusLine || !window.asOf.isValid())
            continue;
        const QString source =
            window.source == PlanSource::cachedReport ? HistorySource::cachedReport : HistorySource::service;
        records.append({window.key(), window.utilization, window.resetsAt, window.asOf, source});
    }
    return records;
}

PlanHistoryRecorder::PlanHistoryRecorder(QString stateFolder, QString dataDirectory, QObject *parent)
    : QObject(parent), m_stateFolder(std::move(stateFolder)), m_dataDirectory(std::move(dataDirectory))
{
    m_daily.setInterval(24 * 3600 * 1000);
    connect(&m_daily, &QTimer::timeout, this, &PlanHistoryRecorder::compact);
    m_daily.start();
}

// Nothing to hand back from either: a failure is only worth a line in the log.
void PlanHistoryRecorder::record(const PlanUsage &usage)
{
    QList<HistoryRecord> records = planUsageHistoryRecords(usage);
    // The panel hands its figures over every second; only new ones are worth a look at the file.
    if (records.isEmpty() || records == m_lastRecorded)
        return;
    m_lastRecorded = records;
    QThreadPool::globalInstance()->start([store = HistoryStore(m_stateFolder), dataDirectory = m_dataDirectory,
                                          records = std::move(records)] {
        if (const QString failure = store.appendChanged(dataDirectory, records); !failure.isEmpty())
            qCWarning(lcApp).noquote() << "history not kept:" << failure;
    });
}

void PlanHistoryRecorder::compact()
{
    QThreadPool::globalInstance()->start([store = HistoryStore(m_stateFolder), dataDirectory = m_dataDirectory] {
        if (const QString failure = store.compact(dataDirectory, QDateTime::currentDateTimeUtc()); !failure.isEmpty())
            qCWarning(lcApp).noquote() << "history not compacted:" << failure;
    });
}

PlanPaceWatch::PlanPaceWatch(QString stateFolder, QObject *parent)
    : QObject(parent), m_stateFolder(std::move(stateFolder))
{
}

void PlanPaceWatch::refresh(const QString &dataDirectory)
{
    if (m_running) {
        m_pending = dataDirectory;
        return;
    }
    m_running = true;
    QtConcurrent::run([store = HistoryStore(m_stateFolder), dataDirectory] {
        return windowPaces(store.read(dataDirectory), QDateTime::currentDateTimeUtc());
    }).then(this, [this](const QHash<QString, Pace> &paces) {
        m_running = false;
        m_read = true;
        setPaces(paces);
        if (const std::optional<QString> pending = std::exchange(m_pending, std::nullopt))
            refresh(*pending);
    });
}

void PlanPaceWatch::setPaces(const QHash<QString, Pace> &paces)
{
    if (paces == m_paces)
        return;
    m_paces = paces;
    emit pacesChanged();
}
