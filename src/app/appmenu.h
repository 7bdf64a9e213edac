#pragma once

class PanelWindow;

// On macOS, the native menu bar: the application menu ("About Glimmerox", "Hide Glimmerox",
// "Hide Others", "Show All", "Quit Glimmerox") and the "Window" menu with "Bring to Front".
// Elsewhere the panel offers its actions on right-click and this does nothing.
void installApplicationMenu(PanelWindow &panel);

// Window behaviour only the platform can give: on macOS the panel joins every desktop space
// (full-screen ones included) and casts the system shadow; on an X11 desktop it is put on every
// virtual desktop. Elsewhere it does nothing.
void applyPlatformWindowBehaviour(PanelWindow &panel);
