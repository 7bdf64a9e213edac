#pragma once

#include "panelcontent.h"
#include "panellayout.h"

#include <QHash>
#include <QImage>
#include <QString>

#include <functional>

class QPainter;

// Pre-rendered layers (the static body, blurred glows, strips with their glows), keyed by what
// they show and the device pixel ratio, so an idle redraw composes images instead of blurring.
// Content that changes (a countdown, a token count) adds entries; past a small bound the cache
// starts afresh, so a panel left running for days does not grow.
class PanelPaintCache
{
public:
    QImage image(const QString &key, const std::function<QImage()> &make);
    qsizetype size() const { return m_images.size(); }
    qint64 misses() const { return m_misses; }

    static constexpr qsizetype maxEntries = 64;

private:
    QHash<QString, QImage> m_images;
    qint64 m_misses = 0;
};

// Paints the whole panel into the painter's current 650 x 185 design space. Everything outside
// the rounded outline stays untouched, so a transparent target shows through there.
void paintPanel(QPainter &painter, const PanelLayout &layout, const PanelContent &content, PanelPaintCache &cache);

// Renders the panel into a new transparent image at the given device pixel ratio.
QImage renderPanel(const PanelLayout &layout, const PanelContent &content, qreal dpr, PanelPaintCache &cache);
