#pragma once

class PlanUsageFetcher;
class QAction;
class QWidget;
class StatusLineSettings;

// The menu's "Plan Figures from Claude Code's Status Line" check item. Checking it puts
// glimmerox-statusline into Claude Code's user settings, unchecking takes it out (the same edit
// as `glimmerox-statusline --install` / `--uninstall`; a failure is shown in a message box). It
// shows checked while the settings run the bridge, also after an edit made elsewhere, and the
// fetcher stays off the usage service (and the login) for as long as it is checked.
QAction *createStatusLineAction(const StatusLineSettings &settings, PlanUsageFetcher &fetcher, QWidget *parent);
