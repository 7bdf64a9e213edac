#include <QWidget>

// Built where there is no X11 client library: no window manager to ask, nothing to do.
void applyX11WindowBehaviour(QWidget &) {}
