#include "bridgelog.h"

Q_LOGGING_CATEGORY(lcBridge, "glimmerox.bridge", QtCriticalMsg)
