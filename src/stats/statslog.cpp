#include "statslog.h"

Q_LOGGING_CATEGORY(lcStats, "glimmerox.stats", QtWarningMsg)
