#include "logging.h"

Q_LOGGING_CATEGORY(lcPlan, "glimmerox.plan", QtWarningMsg)
