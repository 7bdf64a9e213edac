#pragma once

#include <QLoggingCategory>

// The status-line bridge's log. Off by default, warnings included, because the bridge must stay
// silent on Claude Code's status line; QT_LOGGING_RULES="glimmerox.bridge=true" switches it on.
Q_DECLARE_LOGGING_CATEGORY(lcBridge)
