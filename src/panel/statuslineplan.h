#pragma once

#include "panelcontent.h"
#include "samplestore.h"

#include <QList>
#include <QString>

#include <optional>

// How the figures Claude Code's status line hands over enter what the panel reads.

// The plan figures of one data directory's samples, dated by the newest window; absent when no
// window has been sent.
std::optional<PlanUsage> planUsageFromSamples(const DataDirectorySamples &samples);

// `inputs` with the status line's figures taken in. The shown session's data directory is the
// one whose samples name that session, else the one the session was read from, else
// `dataDirectory`, the fetcher's. A session of another data directory (another account) shows
// only its status line's plan figures. Its context window size, when the
// session has a sample, is the one shown. The plan figures are the newer of the status line's
// and the fetched report; the service's failure is not shown beside newer status-line figures.
// With the service off (serviceEnabled false) only the status line counts, and before it has
// sent anything the plan waits for it without an error.
PanelInputs withStatusLine(PanelInputs inputs, const QList<DataDirectorySamples> &samples,
                           const QString &dataDirectory, bool serviceEnabled);
