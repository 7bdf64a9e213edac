#include "planlog.h"

Q_LOGGING_CATEGORY(lcPlan, "glimmerox.plan", QtWarningMsg)
