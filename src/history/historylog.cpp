#include "historylog.h"

Q_LOGGING_CATEGORY(lcHistory, "glimmerox.history", QtCriticalMsg)
