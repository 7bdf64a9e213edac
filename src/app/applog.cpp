#include "applog.h"

Q_LOGGING_CATEGORY(lcApp, "glimmerox.app", QtWarningMsg)
