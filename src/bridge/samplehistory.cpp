#include "samplehistory.h"

#include "historystore.h"

QList<HistoryRecord> sampleHistoryRecords(const StatusLineSample &sample)
{
    QList<HistoryRecord> records;
    const auto add = [&records](const QString &window, const std::optional<PlanWindowSample> &figure) {
        if (figure)
            records.append({window, figure->usedPercent, figure->resetsAt, figure->receivedAt, HistorySource::statusLine});
    };
    add(HistoryKey::fiveHour, sample.fiveHour);
    add(HistoryKey::sevenDay, sample.sevenDay);
    add(HistoryKey::spend, sample.spend);
    return records;
}

QString recordSampleHistory(const StatusLineSample &sample, const QString &historyFolder)
{
    return HistoryStore(historyFolder).appendChanged(sample.session.dataDirectory, sampleHistoryRecords(sample));
}
