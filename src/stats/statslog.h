#pragma once

#include <QLoggingCategory>

// The statistics reader's log: silent by default, switched on with
// QT_LOGGING_RULES="glimmerox.stats=true".
Q_DECLARE_LOGGING_CATEGORY(lcStats)
