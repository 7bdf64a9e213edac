#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

// Where the panel reopens when "Remember Position" is on: on the screen it was on, by that
// screen's name, at the same place on it, held inside what the screen offers now.

// A screen as the window system describes it.
struct ScreenArea
{
    QString name;
    QRect geometry;  // the whole screen, in desktop coordinates
    QRect available; // without the desktop's own panels and docks
};

// A place on a named screen: the window's top-left corner from the screen's own top-left, so a
// rearranged desktop takes the panel along with its screen.
struct RememberedPosition
{
    QString screen;
    QPoint offset;
};

// `rect` moved, not resized, to lie inside `area`; one larger than the area keeps its top-left
// corner inside.
QRect keptInside(QRect rect, const QRect &area);

// The top-left corner for a window of `size` at `remembered`, held inside its screen's available
// area; absent when no screen of that name is there (the window is then centred).
std::optional<QPoint> reopenedPosition(const RememberedPosition &remembered, QSize size,
                                       const QList<ScreenArea> &screens);

// What to remember of a window whose top-left corner is at `topLeft` on `screen`.
RememberedPosition rememberedPosition(const ScreenArea &screen, QPoint topLeft);
