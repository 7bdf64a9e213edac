#pragma once

#include <QColor>
#include <QImage>

// Blurs the alpha channel of image (device pixels) with three box passes, which together
// approximate a gaussian of the given standard deviation. Returns an Alpha8 image of the
// same size; pixels outside the image count as transparent.
QImage blurredAlpha(const QImage &image, qreal sigma);

// A soft shadow of the shape's alpha in the given colour, the way the panel draws glows and
// drop shadows: a blur radius r in design units spreads like a gaussian of sigma r / 2,
// applied in device pixels. The result is premultiplied ARGB of the shape image's size and
// device pixel ratio; the shape must leave enough transparent margin for the spread.
QImage shadowImage(const QImage &shape, const QColor &color, qreal radius);

// The transparent margin, in design units, a shape needs around it for a shadow of radius.
qreal shadowMargin(qreal radius);
