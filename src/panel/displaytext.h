#pragma once

#include <QString>

// Text from the data directory (project, model and folder names) made safe to show: control
// characters and bidirectional overrides dropped, cut to 64 characters with "…".
QString sanitizedDisplayText(const QString &text);
