#pragma once

#include "planusage.h"

#include <QJsonObject>
#include <QList>

// Every window of a usage report, as the service sends it and as Claude Code keeps its last
// one: the flat five_hour and seven_day windows (null or missing: absent), the entries of
// "limits" (session, weekly_all, weekly_scoped per model) and the usage credits when
// "extra_usage" is enabled. A flat window and its "limits" entry are one window: the higher
// figure stands. Each window is dated `asOf` and credited to `source`.
QList<PlanWindow> planWindowsFromReport(const QJsonObject &report, PlanSource source, const QDateTime &asOf);
