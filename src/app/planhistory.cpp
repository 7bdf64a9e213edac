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
}

void PlanHistoryRecorder::follow(const PlanUsageFetcher &fetcher)
{
    connect(&fetcher, &PlanUsageFetcher::planUsageChanged, this, [this, &fetcher] {
        if (const std::optional<PlanUsage> usage = fetcher.planUsage(); usage && usage->fetchedAt.isValid())
            record(*usage, HistorySource::service);
    });
}

void PlanHistoryRecorder::record(const PlanUsage &usage, const QString &source)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool compact = !m_compactedAt.isValid() || m_compactedAt.secsTo(now) >= 24 * 3600 || m_compactedAt > now;
    if (compact)
        m_compactedAt = now;
    const HistoryStore store(m_stateFolder);
    const QString dataDirectory = m_dataDirectory;
    const QList<HistoryRecord> records = planUsageHistoryRecords(usage, source);
    // Nothing to hand back: a failure is only worth a line in the log.
    QThreadPool::globalInstance()->start([store, dataDirectory, records, compact, now] {
        if (compact) {
            if (const QString failure = store.compact(dataDirectory, now); !failure.isEmpty())
                qCWarning(lcApp).noquote() << "history not compacted:" << failure;
        }
        if (const QString failure = store.appendChanged(dataDirectory, records); !failure.isEmpty())
            qCWarning(lcApp).noquote() << "history not kept:" << failure;
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
