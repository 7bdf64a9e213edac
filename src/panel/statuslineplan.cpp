#include "statuslineplan.h"

std::optional<PlanUsage> planUsageFromSamples(const DataDirectorySamples &samples)
{
    if (!samples.fiveHour && !samples.sevenDay)
        return std::nullopt;
    PlanUsage usage;
    if (samples.fiveHour) {
        usage.fiveHourUtilization = samples.fiveHour->usedPercent;
        usage.fiveHourResetsAt = samples.fiveHour->resetsAt;
        usage.fetchedAt = samples.fiveHour->receivedAt;
    }
    if (samples.sevenDay) {
        usage.weeklyUtilization = samples.sevenDay->usedPercent;
        usage.weeklyResetsAt = samples.sevenDay->resetsAt;
        if (!usage.fetchedAt.isValid() || samples.sevenDay->receivedAt > usage.fetchedAt)
            usage.fetchedAt = samples.sevenDay->receivedAt;
    }
    return usage;
}

PanelInputs withStatusLine(PanelInputs inputs, const QList<DataDirectorySamples> &samples,
                           const QString &dataDirectory, bool serviceEnabled)
{
    // The session on show names its account's data directory; the fetched report is the login's
    // of `dataDirectory` only.
    const QString shownKey = sampleDataDirectoryKey(
        inputs.sessionStats.claudeDir.isEmpty() ? dataDirectory : inputs.sessionStats.claudeDir);
    const bool otherAccount = shownKey != sampleDataDirectoryKey(dataDirectory);
    const DataDirectorySamples *shown = nullptr;
    for (const DataDirectorySamples &directory : samples) {
        if (const std::optional<SessionSample> session = directory.session(inputs.sessionStats.sessionId)) {
            if (session->contextWindowSize)
                inputs.sessionStats.contextWindowSize = *session->contextWindowSize;
            inputs.promptCache = session->promptCache;
            inputs.promptCacheSentAt = session->receivedAt;
            shown = &directory;
            break;
        }
        if (directory.dataDirectory == shownKey)
            shown = &directory;
    }

    inputs.serviceEnabled = serviceEnabled;
    const std::optional<PlanUsage> statusLine = shown ? planUsageFromSamples(*shown) : std::nullopt;
    const bool newer = statusLine
        && (!inputs.planUsage || !inputs.planUsage->fetchedAt.isValid()
            || statusLine->fetchedAt > inputs.planUsage->fetchedAt);
    if (!serviceEnabled || newer || otherAccount) {
        inputs.planUsage = statusLine;
        inputs.planSource = PlanSource::statusLine;
        inputs.isFetching = false;
        inputs.lastError.reset();
        inputs.lastFailure.reset();
        inputs.waitingForStatusLine = !statusLine;
    }
    return inputs;
}
