#include "planhistory.h"

#include "applog.h"
#include "historystore.h"
#include "planusagefetcher.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

QList<HistoryRecord> planUsageHistoryRecords(const PlanUsage &usage, const QString &source)
{
    QList<HistoryRecord> records;
    if (usage.fiveHourUtilization)
        records.append({HistoryKey::fiveHour, *usage.fiveHourUtilization, usage.fiveHourResetsAt, usage.fetchedAt, source});
    if (usage.weeklyUtilization) {
        const QString window = usage.weeklyScope ? HistoryKey::sevenDayOf(*usage.weeklyScope) : HistoryKey::sevenDay;
        records.append({window, *usage.weeklyUtilization, usage.weeklyResetsAt, usage.fetchedAt, source});
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

void PlanHistoryRecorder::follow(const PlanUsageFetcher &fetcher)
{
    connect(&fetcher, &PlanUsageFetcher::planUsageChanged, this, [this, &fetcher] {
        if (const std::optional<PlanUsage> usage = fetcher.planUsage(); usage && usage->fetchedAt.isValid())
            record(*usage, HistorySource::service);
    });
}

// Nothing to hand back from either: a failure is only worth a line in the log.
void PlanHistoryRecorder::record(const PlanUsage &usage, const QString &source)
{
    QThreadPool::globalInstance()->start([store = HistoryStore(m_stateFolder), dataDirectory = m_dataDirectory,
                                          records = planUsageHistoryRecords(usage, source)] {
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

void PlanPaceWatch::refresh(const QString &dataDirectory, const std::optional<QString> &weeklyScope)
{
    if (m_running) {
        m_pending = std::pair(dataDirectory, weeklyScope);
        return;
    }
    m_running = true;
    const HistoryStore store(m_stateFolder);
    const QString weekly = weeklyScope && !weeklyScope->isEmpty() ? HistoryKey::sevenDayOf(*weeklyScope) : HistoryKey::sevenDay;
    QtConcurrent::run([store, dataDirectory, weekly] {
        const QList<HistoryRecord> records = store.read(dataDirectory);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        return Paces{windowPace(records, HistoryKey::fiveHour, now), windowPace(records, weekly, now)};
    }).then(this, [this](const Paces &paces) {
        m_running = false;
        setPaces(paces);
        if (const auto pending = std::exchange(m_pending, std::nullopt))
            refresh(pending->first, pending->second);
    });
}

void PlanPaceWatch::setPaces(const Paces &paces)
{
    m_fiveHour = paces.fiveHour;
    m_weekly = paces.weekly;
    emit pacesChanged();
}
