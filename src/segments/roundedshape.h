#pragma once

#include <QPainterPath>
#include <QRectF>

// A rounded rectangle with continuous (smoothed, squircle-like) corners: the curvature
// eases in along the edge instead of jumping at the start of a circular arc. Every rounded
// shape of the panel uses this one path.
QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius);
