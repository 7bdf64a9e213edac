#pragma once

#include <QLoggingCategory>

// The panel's log lines; off unless QT_LOGGING_RULES switches "glimmerox.panel" on.
Q_DECLARE_LOGGING_CATEGORY(lcPanel)
