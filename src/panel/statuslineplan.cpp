#include "statuslineplan.h"

#include "claudedatadir.h"
#include "windowrule.h"

#include <algorithm>
#include <cmath>

namespace {

void addSampledWindow(QList<PlanWindow> &windows, PlanWindowKind kind, const std::optional<PlanWindowSample> &sample)
{
    if (!sample)
        return;
    PlanWindow window;
    window.kind = kind;
    window.utilization = sample->usedPercent;
    window.resetsAt = sample->resetsAt;
    window.source = PlanSource::statusLine;
    window.asOf = sample->receivedAt;
    windows.append(window);
}

} // namespace

QList<PlanWindow> planWindowsFromSamples(const DataDirectorySamples &samples)
{
    QList<PlanWindow> windows;
    addSampledWindow(windows, PlanWindowKind::fiveHour, samples.fiveHour);
    addSampledWindow(windows, PlanWindowKind::weekly, samples.sevenDay);
    addSampledWindow(windows, PlanWindowKind::spend, samples.spend);
    return windows;
}

QList<PlanWindow> mergePlanWindows(QList<PlanWindow> windows, const QList<PlanWindow> &incoming, const QDateTime &now)
{
    for (const PlanWindow &window : incoming) {
        const auto stored = std::find_if(windows.begin(), windows.end(),
                                         [&](const PlanWindow &w) { return w.key() == window.key(); });
        if (stored == windows.end())
            windows.append(window);
        else if (replacesFigure({stored->utilization, stored->resetsAt, stored->asOf},
                                {window.utilization, window.resetsAt, window.asOf}, now))
            *stored = window;
    }
    return windows;
}

bool hasFreshWindow(const QList<PlanWindow> &windows, const QDateTime &now)
{
    return std::any_of(windows.cbegin(), windows.cend(), [&](const PlanWindow &w) {
        const QDateTime asOf = presentTime(w.asOf, now);
        return asOf.isValid() && asOf.secsTo(now) <= freshFigureSeconds;
    });
}

std::optional<qint64> sampledContextPercent(const ActiveSession &session, const QList<DataDirectorySamples> &samples)
{
    for (const DataDirectorySamples &directory : samples) {
        const std::optional<SessionSample> sample = directory.session(session.sessionId);
        if (sample && sample->contextUsedPercent && sample->receivedAt >= session.startedAt)
            return std::llround(*sample->contextUsedPercent);
    }
    return std::nullopt;
}

SessionActivity SessionActivity::after(const SessionStats &stats, const QDateTime &now) const
{
    if (stats.sessionId != sessionId)
        return {stats.sessionId, stats.totalTokens, std::nullopt};
    if (stats.totalTokens == totalTokens)
        return *this;
    return {sessionId, stats.totalTokens, now};
}

PanelInputs withStatusLine(PanelInputs inputs, const QList<DataDirectorySamples> &samples, const QString &dataDirectory,
                           bool serviceEnabled, const QHash<QString, QList<PlanWindow>> &cachedReports)
{
    // The session on show names its account's data directory; the fetched report is the login's
    // of `dataDirectory` only.
    SessionStats &stats = inputs.sessionStats;
    std::optional<QDateTime> sampledAt; // the shown session's newest sample
    QString shownKey = dataDirectoryKey(stats.claudeDir.isEmpty() ? dataDirectory : stats.claudeDir);
    const DataDirectorySamples *shown = nullptr;
    for (const DataDirectorySamples &directory : samples) {
        if (const std::optional<SessionSample> session = directory.session(stats.sessionId)) {
            // A window smaller than the context the transcript shows is no window of this session.
            if (session->contextWindowSize && *session->contextWindowSize >= stats.lastContextTokens)
                stats.contextWindowSize = *session->contextWindowSize;
            if (!session->modelName.isEmpty())
                stats.model = session->modelName;
            inputs.sessionCostUsd = session->costUsd;
            inputs.promptCache = session->promptCache;
            inputs.promptCacheSentAt = session->receivedAt;
            sampledAt = presentTime(session->receivedAt, inputs.now);
            shown = &directory;
            shownKey = directory.dataDirectory;
            break;
        }
        if (directory.dataDirectory == shownKey)
            shown = &directory;
    }
    const bool otherAccount = shownKey != dataDirectoryKey(dataDirectory);
    // The ACTIVE list says what the context notifications say: Claude Code's own figure, whose
    // window the transcript alone cannot tell.
    for (ActiveSession &session : inputs.activeSessions)
        if (const std::optional<qint64> percent = sampledContextPercent(session, samples))
            session.contextPercent = percent;

    inputs.serviceEnabled = serviceEnabled;
    // The bridge is installed and a live session wrote lately, yet sent nothing: something keeps
    // Claude Code from running the status line in that session.
    const bool live = std::any_of(inputs.activeSessions.cbegin(), inputs.activeSessions.cend(),
                                  [&](const ActiveSession &s) { return !s.sessionId.isEmpty() && s.sessionId == stats.sessionId; });
    const std::optional<QDateTime> &wroteAt = inputs.shownSessionWroteAt;
    const qint64 sinceWrite = wroteAt ? wroteAt->secsTo(inputs.now) : -1;
    inputs.noStatusLineFromSession = !serviceEnabled && live && sinceWrite >= statusLineGraceSeconds
        && sinceWrite <= statusLineExpectedSeconds
        && (!sampledAt || !sampledAt->isValid() || sampledAt->secsTo(inputs.now) > statusLineExpectedSeconds);
    const QList<PlanWindow> sampled = shown ? planWindowsFromSamples(*shown) : QList<PlanWindow>();
    const QList<PlanWindow> noLogin = mergePlanWindows(sampled, cachedReports.value(shownKey), inputs.now);
    inputs.statusLineSendsNoPlan = shown && !shown->sessions.isEmpty() && sampled.isEmpty();
    inputs.noLoginFiguresFresh = hasFreshWindow(noLogin, inputs.now);
    const bool useService = serviceEnabled && !otherAccount;
    if (useService && inputs.noLoginFiguresFresh && inputs.hasError()) {
        // Fresh figures that need no login stand; a failed fetch beside them is no fault.
        inputs.lastError.reset();
        inputs.lastFailure.reset();
    }
    if (!useService) {
        inputs.planUsage.reset();
        inputs.isFetching = false;
        inputs.lastError.reset();
        inputs.lastFailure.reset();
    }
    if (noLogin.isEmpty()) {
        inputs.waitingForStatusLine = !inputs.planUsage && !useService;
        return inputs;
    }
    const QList<PlanWindow> fetched = inputs.planUsage ? inputs.planUsage->shownWindows() : QList<PlanWindow>();
    inputs.planUsage = PlanUsage::fromWindows(mergePlanWindows(noLogin, fetched, inputs.now), inputs.now);
    return inputs;
}
