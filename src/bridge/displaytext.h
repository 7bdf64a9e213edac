#pragma once

#include <QString>

// Text from the data directory made safe to draw: control characters, bidirectional overrides
// and isolates removed (so a folder name can neither break a line nor mirror what follows), and
// cut after whole user-perceived characters to at most 64, the last of them "…".
QString sanitizedDisplayText(const QString &text);
