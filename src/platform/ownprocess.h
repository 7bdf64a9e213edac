#pragma once

#include <QString>

// The absolute path of this process's executable file; empty when the system does not say.
QString currentExecutablePath();
