#include "usagenotifications.h"

#include "claudestatsreader.h"
#include "desktopnotifier.h"
#include "applog.h"

UsageNotifications::UsageNotifications(DesktopNotifier &notifier, QObject *parent)
    : QObject(parent)
    , m_notifier(notifier)
{
}

void UsageNotifications::follow(const ClaudeStatsReader &reader)
{
    connect(&reader, &ClaudeStatsReader::sessionStatsChanged, this,
            [this, &reader] { observe(reader.sessionStats()); });
}

void UsageNotifications::observe(const PlanUsage &usage, const QDateTime &now)
{
    send(m_alerts.observe(usage, now));
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
