#pragma once

#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>

// A rounded rectangle with continuous (smoothed, squircle-like) corners: the curvature
// eases in along the edge instead of jumping at the start of a circular arc. Every rounded
// shape of the panel uses this one path.
//
// Each corner leaves its edges at 1.528 × radius (like the continuous corners of iOS) and
// meets the circle of the given radius at the corner's diagonal. A radius beyond half the
// shorter side is cut to it, and where the extent would not fit into half the shorter side
// the smoothing shrinks, down to a plain circular corner: a radius of half the shorter side
// gives a pill with round ends.
// An empty rectangle gives an empty path, a radius of zero or less a plain rectangle.
QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius);

// Appends the same outline as a closed subpath to path, so that several shapes of one
// colour can be filled with a single fill.
void addContinuousRoundedRect(QPainterPath &path, const QRectF &rect, qreal radius);

// The same outline as a closed polygon, its curves flattened finely enough for drawing at
// deviceScale device pixels per point. Filling a polygon is several times cheaper than
// filling curves, which matters where many small shapes are drawn on every paint.
QPolygonF continuousRoundedPolygon(const QRectF &rect, qreal radius, qreal deviceScale);
// The same, written into polygon (its previous points are dropped, its storage reused).
void continuousRoundedPolygon(QPolygonF &polygon, const QRectF &rect, qreal radius, qreal deviceScale);
