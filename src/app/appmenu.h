#pragma once

class PanelWindow;

// On macOS, the native menu bar: the application menu ("About Glimmerox", "Hide Glimmerox",
// "Hide Others", "Show All", "Quit Glimmerox") and the "Window" menu with "Bring to Front".
// Elsewhere the panel offers its actions on right-click and this does nothing.
void installApplicationMenu(PanelWindow &panel);
