#pragma once

#include "statuslinesample.h"

#include <QList>
#include <QString>

struct HistoryRecord;

// The plan windows a sample carries, as history records from the status line.
QList<HistoryRecord> sampleHistoryRecords(const StatusLineSample &sample);

// Appends the sample's windows to its data directory's history in `historyFolder` where they
// changed; empty on success, else the reason.
QString recordSampleHistory(const StatusLineSample &sample, const QString &historyFolder);
