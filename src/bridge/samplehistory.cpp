#include "samplehistory.h"

#include "historystore.h"
#include "windowrule.h"

QList<HistoryRecord> sampleHistoryRecords(const StatusLineSample &sample,
                                          const std::optional<DataDirectorySamples> &standing)
{
    QList<HistoryRecord> records;
    const auto add = [&](const QString &window, const std::optional<PlanWindowSample> &carried,
                         const std::optional<PlanWindowSample> &kept) {
        if (!carried)
            return;
        const std::optional<PlanWindowSample> &figure = standing ? kept : carried;
        // An ended window's figure is no figure of the present.
        if (figure && !hasReset(figure->resetsAt, carried->receivedAt))
            records.append({window, figure->usedPercent, figure->resetsAt, figure->receivedAt, HistorySource::statusLine});
    };
    add(HistoryKey::fiveHour, sample.fiveHour, standing ? standing->fiveHour : std::nullopt);
    add(HistoryKey::sevenDay, sample.sevenDay, standing ? standing->sevenDay : std::nullopt);
    add(HistoryKey::spend, sample.spend, standing ? standing->spend : std::nullopt);
    return records;
}

QString recordSampleHistory(const StatusLineSample &sample, const std::optional<DataDirectorySamples> &standing,
                            const QString &historyFolder)
{
    return HistoryStore(historyFolder).appendChanged(sample.session.dataDirectory, sampleHistoryRecords(sample, standing));
}
