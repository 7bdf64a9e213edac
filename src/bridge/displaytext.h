#pragma once

#include <QString>
#include <QtGlobal>

// Text from the data directory made safe to draw: control characters, bidirectional overrides
// and isolates removed (so a folder name can neither break a line nor mirror what follows), and
// cut after whole user-perceived characters to at most 64, the last of them "…".
QString sanitizedDisplayText(const QString &text);

class QDateTime;

// A span as tooltips and notifications give it: "less than a minute", "4 min", "1 h 05 min", "2 d 3 h".
QString durationText(qint64 seconds);
// Local wall-clock time ("14:32"), with the date ("8 Dec 14:32") when it is not today at `now`.
QString clockText(const QDateTime &when, const QDateTime &now);
