#include "usagenotifications.h"

#include "claudestatsreader.h"
#include "desktopnotifier.h"
#include "applog.h"
#include "statuslineplan.h"
#include "statuslinesamples.h"

namespace {

// Alerts of one session or window replace each other on the desktop.
QString replaceKey(const UsageAlert &alert)
{
    switch (alert.subject) {
    case UsageAlert::Subject::context: return QStringLiteral("context/") + alert.sessionId;
    case UsageAlert::Subject::quota:
    case UsageAlert::Subject::runOut: return QStringLiteral("quota/") + alert.windowKey;
    }
    return {};
}

} // namespace

UsageNotifications::UsageNotifications(DesktopNotifier &notifier, QObject *parent, Clock clock)
    : QObject(parent)
    , m_notifier(notifier)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
{
}

void UsageNotifications::follow(const ClaudeStatsReader &reader, const StatusLineSamples *samples)
{
    const auto observeSessions = [this, &reader, samples] {
        observe(liveSessionContexts(reader.activeSessions(), reader.sessionStats(),
                                    samples ? samples->samples() : QList<DataDirectorySamples>()));
    };
    connect(&reader, &ClaudeStatsReader::sessionStatsChanged, this, observeSessions);
    connect(&reader, &ClaudeStatsReader::activeSessionsChanged, this, observeSessions);
    if (samples)
        connect(samples, &StatusLineSamples::samplesChanged, this, observeSessions);
}

void UsageNotifications::observe(const PlanUsage &usage, const QDateTime &now,
                                 const std::optional<QHash<QString, Pace>> &paces)
{
    send(m_alerts.observe(usage, now, paces));
}

void UsageNotifications::observe(const QList<SessionContext> &sessions)
{
    send(m_alerts.observe(sessions));
}

void UsageNotifications::send(const QList<UsageAlert> &alerts)
{
    if (!m_enabled)
        return;
    const QDateTime now = m_clock();
    for (const UsageAlert &alert : alerts) {
        const AlertText text = alertText(alert, now);
        qCDebug(lcApp) << "notification:" << text.summary;
        m_notifier.notify({text.summary, text.body, alert.threshold >= UsageAlerts::thresholds[1], replaceKey(alert)});
    }
}

QList<SessionContext> liveSessionContexts(const QList<ActiveSession> &sessions, const SessionStats &shown,
                                          const QList<DataDirectorySamples> &samples)
{
    QList<SessionContext> contexts;
    for (const ActiveSession &session : sessions) {
        std::optional<qint64> percent = session.contextPercent;
        if (!session.sessionId.isEmpty() && session.sessionId == shown.sessionId)
            percent = shown.contextPercent();
        if (const std::optional<qint64> sampled = sampledContextPercent(session, samples))
            percent = sampled;
        if (percent)
            contexts.append({session.sessionId, projectName(session.cwd), *percent});
    }
    return contexts;
}
