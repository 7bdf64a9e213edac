#pragma once

#include "samplestore.h"
#include "statuslinesample.h"

#include <QList>
#include <QString>

#include <optional>

struct HistoryRecord;

// The plan windows a sample carries, as history records from the status line: each window's
// figure that stands in `standing` (the samples after the merge, by the window rule), so an idle
// session's lower figure or its ended window never enters the history. Without `standing` (the
// sample was not kept) the sample's own figures, those of an ended window left out.
QList<HistoryRecord> sampleHistoryRecords(const StatusLineSample &sample,
                                          const std::optional<DataDirectorySamples> &standing);

// Appends those records to the sample's data directory's history in `historyFolder` where they
// changed; empty on success, else the reason.
QString recordSampleHistory(const StatusLineSample &sample, const std::optional<DataDirectorySamples> &standing,
                            const QString &historyFolder);
