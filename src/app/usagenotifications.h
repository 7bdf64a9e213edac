#pragma once

#include "usagealerts.h"

#include <QObject>

class ClaudeStatsReader;
class DesktopNotifier;
class PlanUsageFetcher;

// Turns the figures the two sources publish into desktop notifications, as UsageAlerts decides.
class UsageNotifications : public QObject
{
    Q_OBJECT

public:
    explicit UsageNotifications(DesktopNotifier &notifier, QObject *parent = nullptr);

    // Follows the reader's shown session and the fetcher's reports from now on.
    void follow(const ClaudeStatsReader &reader, const PlanUsageFetcher &fetcher);

    void observe(const PlanUsage &usage);
    void observe(const SessionStats &stats);

private:
    void send(const QList<UsageAlert> &alerts);

    DesktopNotifier &m_notifier;
    UsageAlerts m_alerts;
};
