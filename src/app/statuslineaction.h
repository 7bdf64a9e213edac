#pragma once

class PlanUsageFetcher;
class QAction;
class QWidget;
class StatusLineSettings;

// The menu's "Plan Figures from Claude Code's Status Line" check item. Checking it puts
// glimmerox-statusline into Claude Code's user settings, unchecking takes it out (the same edit
// as `glimmerox-statusline --install` / `--uninstall`; a failure is shown in a message box, and
// so is the refusal to install a bridge that is missing, cannot be run, or runs from a macOS App
// Translocation copy). At start, a bridge command of an older form is brought up to date. It
// shows checked while the settings run the bridge, also after an edit made elsewhere, and the
// fetcher stays off the usage service (and the login) for as long as it is checked.
QAction *createStatusLineAction(const StatusLineSettings &settings, PlanUsageFetcher &fetcher, QWidget *parent);
