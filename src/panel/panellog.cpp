#include "panellog.h"

Q_LOGGING_CATEGORY(lcPanel, "glimmerox.panel", QtWarningMsg)
