#pragma once

#include <QString>

// The absolute path of this process's executable file; empty when the system does not say.
QString currentExecutablePath();

// Called in a freshly forked child: asks the system to end it when its parent dies. Linux does
// that (PR_SET_PDEATHSIG); elsewhere this does nothing and the parent forwards its end instead.
void endWhenParentEnds();
