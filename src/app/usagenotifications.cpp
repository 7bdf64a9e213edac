#include "usagenotifications.h"

#include "claudestatsreader.h"
#include "desktopnotifier.h"
#include "applog.h"
#include "planusagefetcher.h"

UsageNotifications::UsageNotifications(DesktopNotifier &notifier, QObject *parent)
    : QObject(parent)
    , m_notifier(notifier)
{
}

void UsageNotifications::follow(const ClaudeStatsReader &reader, const PlanUsageFetcher &fetcher)
{
    connect(&reader, &ClaudeStatsReader::sessionStatsChanged, this,
            [this, &reader] { observe(reader.sessionStats()); });
    connect(&fetcher, &PlanUsageFetcher::planUsageChanged, this, [this, &fetcher] {
        if (const std::optional<PlanUsage> usage = fetcher.planUsage())
            observe(*usage);
    });
}

void UsageNotifications::observe(const PlanUsage &usage)
{
    send(m_alerts.observe(usage));
}

void UsageNotifications::observe(const SessionStats &stats)
{
    send(m_alerts.observe(stats));
}

void UsageNotifications::send(const QList<UsageAlert> &alerts)
{
    for (const UsageAlert &alert : alerts) {
        const AlertText text = alertText(alert);
        qCDebug(lcApp) << "notification:" << text.summary;
        m_notifier.notify(text.summary, text.body);
    }
}
