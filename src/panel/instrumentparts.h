#pragma once

#include <QRectF>

class QPainter;

// Parts the panel and the history chart draw alike.

// The effective device pixels per unit of the painter.
qreal deviceRatio(const QPainter &painter);

// A dark plate let into the metal for lettering: a faint shadow along its top edge and a
// faint highlight along its bottom one make it read as inset.
void paintPlate(QPainter &painter, const QRectF &rect);

// The brushed metal of the body: light at two corners, dark across the middle, and a faint
// white sheen over the top.
void paintMetal(QPainter &painter, const QRectF &rect);
