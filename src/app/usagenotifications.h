#pragma once

#include "samplestore.h"
#include "usagealerts.h"

#include <QDateTime>
#include <QObject>

#include <functional>

class ClaudeStatsReader;
class DesktopNotifier;
class StatusLineSamples;

// Turns the figures the sources publish into desktop notifications, as UsageAlerts decides: a
// 95 % alert is urgent, and each alert takes the place of the one before it of the same session
// or window.
class UsageNotifications : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // clock defaults to the system clock; it words the time left until a reset.
    explicit UsageNotifications(DesktopNotifier &notifier, QObject *parent = nullptr, Clock clock = {});

    // Follows the reader's live sessions (with the status line's figures, when samples is given)
    // from now on; plan figures are handed to observe() as the panel merges its sources.
    void follow(const ClaudeStatsReader &reader, const StatusLineSamples *samples = nullptr);

    // `now` decides which resets have passed; an invalid one leaves resets to the figures.
    // `paces`: the windows' recent paces, once read (UsageAlerts::observe).
    void observe(const PlanUsage &usage, const QDateTime &now = {},
                 const std::optional<QHash<QString, Pace>> &paces = std::nullopt);
    void observe(const QList<SessionContext> &sessions);

    // While off the figures are still followed, so turning back on announces only what happens
    // from then on, but nothing is sent.
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

private:
    void send(const QList<UsageAlert> &alerts);

    DesktopNotifier &m_notifier;
    Clock m_clock;
    UsageAlerts m_alerts;
    bool m_enabled = true;
};

// The context fill of every live session: Claude Code's own figure from the status line where
// the session has one from its current run (Claude Code knows the session's window), else the shown session's as the reader
// published it, else the reader's figure for the session. Sessions without a figure are left out.
QList<SessionContext> liveSessionContexts(const QList<ActiveSession> &sessions, const SessionStats &shown,
                                          const QList<DataDirectorySamples> &samples);
