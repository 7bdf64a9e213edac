#include "panelposition.h"

#include <algorithm>

QRect keptInside(QRect rect, const QRect &area)
{
    rect.moveRight(std::min(rect.right(), area.right()));
    rect.moveBottom(std::min(rect.bottom(), area.bottom()));
    rect.moveLeft(std::max(rect.left(), area.left()));
    rect.moveTop(std::max(rect.top(), area.top()));
    return rect;
}

std::optional<QPoint> reopenedPosition(const RememberedPosition &remembered, QSize size,
                                       const QList<ScreenArea> &screens)
{
    const auto screen = std::find_if(screens.cbegin(), screens.cend(),
                                     [&](const ScreenArea &area) { return area.name == remembered.screen; });
    if (screen == screens.cend())
        return std::nullopt;
    const QRect placed(screen->geometry.topLeft() + remembered.offset, size);
    return keptInside(placed, screen->available).topLeft();
}

RememberedPosition rememberedPosition(const ScreenArea &screen, QPoint topLeft)
{
    return {screen.name, topLeft - screen.geometry.topLeft()};
}
