#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for before any window exists: --version and --help print and end
// the process without a display; anything else starts the panel. Options the parser does not
// know (Qt's own, such as -platform or -reverse) are left for QApplication.
struct StartupRequest
{
    enum class Action { runPanel, printText };
    Action action = Action::runPanel;
    QString text; // for printText: what to print on standard output
};

StartupRequest parseCommandLine(const QStringList &arguments, const QString &version);

// The platform plugin to choose for this environment, or nothing to let Qt decide. Under a
// Wayland session that also offers XWayland (WAYLAND_DISPLAY and DISPLAY both set) the panel
// runs on xcb, because a Wayland window can neither keep itself on top nor place itself; a
// platform the user chose (QT_QPA_PLATFORM) always wins.
std::optional<QByteArray> preferredPlatform(const QProcessEnvironment &environment);

// Whether the platform plugin Qt is going to load finds a display to talk to: xcb needs DISPLAY,
// wayland WAYLAND_DISPLAY, Qt's own choice either; offscreen, minimal and the like need none. A
// platform named by -platform wins over QT_QPA_PLATFORM, as it does in Qt. Asked before the
// application object exists, because Qt aborts when its platform finds no display.
bool hasDisplay(const QProcessEnvironment &environment, const QStringList &arguments);

// What is printed on standard error, before exiting 1, when hasDisplay() is false.
inline constexpr char noDisplayMessage[] = "glimmerox: no display found; set DISPLAY or WAYLAND_DISPLAY\n";
