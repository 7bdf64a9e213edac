#include "roundedshape.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// How far the curvature ramp reaches along each edge, beyond the plain radius, as a share of
// the radius: 0 is a circular corner, 0.528 the corner extent of 1.528 × radius.
constexpr qreal cornerSmoothing = 0.528;

// The corner outline in a frame attached to the corner point: u runs along the incoming edge
// (negative before the corner), v along the outgoing edge. The curve is a cubic that bends
// off the straight edge with zero curvature, a circular arc (one cubic) of the given radius,
// and the mirror image of the first cubic; 3 cubics, 9 points after the start.
struct CornerShape
{
    qreal radius = 0;
    qreal extent = 0;
    qreal arcAngle = 0; // radians
    std::array<QPointF, 9> points; // control, control, end; three times
};

CornerShape cornerShape(qreal radius, qreal smoothing)
{
    const qreal pi = std::numbers::pi_v<qreal>;
    const qreal extent = (1 + smoothing) * radius;
    const qreal arcAngle = pi / 2 * (1 - smoothing);
    const qreal arcChord = std::sin(arcAngle / 2) * radius * std::numbers::sqrt2_v<qreal>;
    const qreal tilt = pi / 4 * smoothing; // direction of the curve where the arc begins
    const qreal c = radius * std::tan(tilt / 2) * std::cos(tilt);
    const qreal d = c * std::tan(tilt);
    const qreal b = std::max<qreal>((extent - arcChord - c - d) / 3, 0);
    const qreal a = 2 * b;
    // Control distance of a one-cubic circular arc.
    const qreal k = 4.0 / 3.0 * std::tan(arcAngle / 4) * radius;

    const QPointF arcStart(-extent + a + b + c, d);
    const QPointF arcEnd(-d, extent - a - b - c);
    CornerShape shape;
    shape.radius = radius;
    shape.arcAngle = arcAngle;
    shape.extent = extent;
    shape.points = {
        QPointF(-extent + a, 0),
        QPointF(-extent + a + b, 0),
        arcStart,
        arcStart + k * QPointF(std::cos(tilt), std::sin(tilt)),
        arcEnd - k * QPointF(std::sin(tilt), std::cos(tilt)),
        arcEnd,
        QPointF(0, extent - a - b),
        QPointF(0, extent - a),
        QPointF(0, extent),
    };
    return shape;
}

// The corner shape for rect and radius, with the radius and smoothing reduced to fit.
CornerShape fittedCorner(const QRectF &rect, qreal radius)
{
    const qreal half = std::min(rect.width(), rect.height()) / 2;
    const qreal r = std::min(radius, half);
    // Less smoothing where the full ramp would not fit: a radius of half the side is a pill.
    const qreal smoothing = std::clamp(half / r - 1, qreal(0), cornerSmoothing);
    if (smoothing < cornerSmoothing)
        return cornerShape(r, smoothing);
    // The usual, fully smoothed corner is one shape scaled: its trigonometry is done once.
    static const CornerShape unit = cornerShape(1, cornerSmoothing);
    CornerShape shape = unit;
    shape.radius = r;
    shape.extent *= r;
    for (QPointF &point : shape.points)
        point *= r;
    return shape;
}

// The four corners clockwise from the top-right one: corner point, incoming and outgoing direction.
struct CornerFrame
{
    QPointF corner, in, out;
};

std::array<CornerFrame, 4> cornerFrames(const QRectF &rect)
{
    const QPointF east(1, 0), south(0, 1), west(-1, 0), north(0, -1);
    return {{{rect.topRight(), east, south},
             {rect.bottomRight(), south, west},
             {rect.bottomLeft(), west, north},
             {rect.topLeft(), north, east}}};
}

QPointF cubicPoint(QPointF p0, QPointF p1, QPointF p2, QPointF p3, qreal t)
{
    const qreal s = 1 - t;
    return s * s * s * p0 + 3 * s * s * t * p1 + 3 * s * t * t * p2 + t * t * t * p3;
}

} // namespace

void addContinuousRoundedRect(QPainterPath &path, const QRectF &rect, qreal radius)
{
    if (!(rect.width() > 0) || !(rect.height() > 0))
        return;
    if (!(radius > 0)) {
        path.addRect(rect);
        return;
    }
    const CornerShape shape = fittedCorner(rect, radius);
    const auto frames = cornerFrames(rect);
    path.moveTo(frames[3].corner + shape.extent * frames[3].out);
    for (const CornerFrame &frame : frames) {
        path.lineTo(frame.corner - shape.extent * frame.in);
        const auto at = [&](QPointF p) { return frame.corner + p.x() * frame.in + p.y() * frame.out; };
        const auto &p = shape.points;
        for (std::size_t i = 0; i < p.size(); i += 3)
            path.cubicTo(at(p[i]), at(p[i + 1]), at(p[i + 2]));
    }
    path.closeSubpath();
}

QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    addContinuousRoundedRect(path, rect, radius);
    return path;
}

void continuousRoundedPolygon(QPolygonF &polygon, const QRectF &rect, qreal radius, qreal deviceScale)
{
    polygon.clear();
    if (!(rect.width() > 0) || !(rect.height() > 0))
        return;
    if (!(radius > 0) || !(deviceScale > 0)) {
        polygon << rect.topLeft() << rect.topRight() << rect.bottomRight() << rect.bottomLeft() << rect.topLeft();
        return;
    }
    const CornerShape shape = fittedCorner(rect, radius);
    // Enough steps per curve that the chords stay within a tenth of a device pixel of the arc
    // (a chord over angle a of radius r departs from it by about r a² / 8); the ramps beside
    // the arc bend less and get the same count.
    const qreal deviceRadius = shape.radius * deviceScale;
    const qreal wanted = std::ceil(shape.arcAngle * std::sqrt(deviceRadius / (8 * 0.1)));
    const int steps = int(std::clamp<qreal>(wanted, 1, 32));

    // Flatten the corner once in its own frame, then place it at the four corners.
    std::array<QPointF, 1 + 3 * 32> corner;
    std::size_t count = 0;
    QPointF start(-shape.extent, 0);
    corner[count++] = start;
    const auto &p = shape.points;
    for (std::size_t i = 0; i < p.size(); i += 3) {
        for (int k = 1; k <= steps; ++k)
            corner[count++] = cubicPoint(start, p[i], p[i + 1], p[i + 2], qreal(k) / steps);
        start = p[i + 2];
    }
    polygon.resize(qsizetype(4 * count + 1));
    QPointF *out = polygon.data();
    for (const CornerFrame &frame : cornerFrames(rect)) {
        for (std::size_t i = 0; i < count; ++i)
            *out++ = frame.corner + corner[i].x() * frame.in + corner[i].y() * frame.out;
    }
    *out = polygon.front();
}

QPolygonF continuousRoundedPolygon(const QRectF &rect, qreal radius, qreal deviceScale)
{
    QPolygonF polygon;
    continuousRoundedPolygon(polygon, rect, radius, deviceScale);
    return polygon;
}
