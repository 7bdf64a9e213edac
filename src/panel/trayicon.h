#pragma once

#include "panelcontent.h"

#include <QIcon>
#include <QImage>

#include <optional>

// The tray icon while the panel is hidden: the figure of the shown mode as a number.

// At this figure and above the icon takes its warning look.
inline constexpr qint64 trayWarningPercent = 80;

// The shown session's context fill in session mode (none without a live session), the shown
// window's use in plan mode (none without a report that has it).
std::optional<qint64> trayFigure(const PanelInputs &shown);

// The figure drawn `size` pixels square: red digits on a dark plate of its own, so it reads on a
// light tray as well as a dark one; from trayWarningPercent dark digits on a red plate.
QImage trayIconImage(qint64 percent, int size);

// The icon for the tray at every size it asks for; the program's icon when there is no figure.
// Never a mask (a macOS template image), so the warning colour shows in the menu bar too.
QIcon figureIcon(std::optional<qint64> percent, const QIcon &withoutFigure);
