#pragma once

class QWidget;

// Window behaviour only the platform can give, applied whenever the panel shows and kept up
// after it was hidden (a window manager drops a withdrawn window's states): on an X11 desktop
// the panel is on every virtual desktop and above other windows, and without a compositor
// its rounded corners are cut with a window mask instead of showing black; on macOS it floats
// on every desktop space, full-screen ones included, and casts the system shadow. Elsewhere
// nothing happens.
void keepPlatformWindowBehaviour(QWidget &panel);

// What each system's file (windowbehaviour_x11.cpp, _mac.mm, _none.cpp) does, called by
// keepPlatformWindowBehaviour.
namespace platformwindow {
// Just before the window is shown: `mapped` when the system shows it again by itself
// (de-minimised) rather than because the program asked.
void beforeShow(QWidget &window, bool mapped);
// The window has a new size, or has just been shown: its shape may need to follow.
void updateShape(QWidget &window);
} // namespace platformwindow
