#pragma once

#include <QString>

// The name the desktop knows the program by: its desktop entry (installed and autostart), the
// notification's desktop-entry hint and the Wayland application id all use it.
inline QString desktopFileId()
{
    return QStringLiteral("org.glimmerox.Glimmerox");
}
