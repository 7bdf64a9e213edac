#include "appmenu.h"

// Without a global menu bar the panel offers its actions on right-click.
void installApplicationMenu(PanelWindow &) {}
