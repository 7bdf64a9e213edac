#pragma once

#include "sevensegmentdigit.h"

#include <QPainter>
#include <QPolygonF>

#include <span>

// A digit and where its cell's top-left corner goes.
struct PlacedDigit
{
    SevenSegmentDigit digit;
    QPointF origin;
};

// Draws digits into one painter: saves the painter's state and sets up antialiased, pen-less,
// source-over filling once, and restores the state when it goes out of scope. Segments are
// flattened to polygons at the painter's device scale, which keeps them crisp at any pixel
// ratio and is far cheaper to fill than curves.
class SegmentPainter
{
public:
    explicit SegmentPainter(QPainter &painter);
    ~SegmentPainter();
    Q_DISABLE_COPY_MOVE(SegmentPainter)

    // Draws the digits layer by layer: every unlit segment, then every lit body, then every
    // lit core. Segments never overlap, so this is the same picture as drawing each segment
    // with its core in turn, with a handful of brush changes instead of one per segment.
    void drawDigits(std::span<const PlacedDigit> digits);

private:
    enum class Layer { unlitBodies, litBodies, litCores };

    void drawLayer(const SevenSegmentDigit &digit, QPointF origin, Layer layer);
    void fill(const QRectF &rect, qreal radius, const QColor &color);

    QPainter &m_painter;
    qreal m_deviceScale = 1;
    QPolygonF m_outline; // reused for every segment
    QColor m_brushColor; // invalid until the first fill
};
