#pragma once

#include "usagealerts.h"

#include <QObject>

class ClaudeStatsReader;
class DesktopNotifier;

// Turns the figures the two sources publish into desktop notifications, as UsageAlerts decides.
class UsageNotifications : public QObject
{
    Q_OBJECT

public:
    explicit UsageNotifications(DesktopNotifier &notifier, QObject *parent = nullptr);

    // Follows the reader's shown session from now on; plan figures are handed to observe() as the
    // panel merges its sources.
    void follow(const ClaudeStatsReader &reader);

    void observe(const PlanUsage &usage, const QDateTime &now = {});
    void observe(const SessionStats &stats);

private:
    void send(const QList<UsageAlert> &alerts);

    DesktopNotifier &m_notifier;
    UsageAlerts m_alerts;
};
