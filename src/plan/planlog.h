#pragma once

#include <QLoggingCategory>

// The plan subsystem's log, off by default; QT_LOGGING_RULES="glimmerox.plan=true" switches it
// on. Lines name what failed, never a token.
Q_DECLARE_LOGGING_CATEGORY(lcPlan)
