#pragma once

#include <QLoggingCategory>

// The application shell's log: off by default, QT_LOGGING_RULES="glimmerox.app=true" turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
