#pragma once

#include "sevensegmentdigit.h"

#include <QPainter>
#include <QPolygonF>

// Draws digits segment by segment into one painter: saves the painter's state and sets up
// antialiased, pen-less, source-over filling once for a whole strip, and restores the state
// when it goes out of scope. Segments are flattened to polygons at the painter's device scale,
// which keeps them crisp at any pixel ratio and is far cheaper to fill than curves.
class SegmentPainter
{
public:
    explicit SegmentPainter(QPainter &painter);
    ~SegmentPainter();
    SegmentPainter(const SegmentPainter &) = delete;
    SegmentPainter &operator=(const SegmentPainter &) = delete;

    // Draws digit with its cell's top-left corner at origin.
    void drawDigit(const SevenSegmentDigit &digit, QPointF origin);

private:
    void fill(const QRectF &rect, qreal radius, const QColor &color);

    QPainter &m_painter;
    qreal m_deviceScale = 1;
    QPolygonF m_outline; // reused for every segment
};
