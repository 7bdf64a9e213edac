#include "windowbehaviour.h"

// A system without window-manager requests Glimmerox knows of (or built without the X11 client
// library): the panel keeps what Qt's window flags give it.
void platformwindow::beforeShow(QWidget &, bool) {}
void platformwindow::updateShape(QWidget &) {}
