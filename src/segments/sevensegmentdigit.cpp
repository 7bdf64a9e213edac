#include "sevensegmentdigit.h"

#include "roundedshape.h"
#include "segmentpainter.h"

#include <algorithm>
#include <cmath>

namespace {

// Gap around every segment, in points, whatever the cell size.
constexpr qreal segmentGap = 1.5;
// Segment thickness as a share of the cell width.
constexpr qreal thicknessRatio = 0.16;

} // namespace

SevenSegmentDigit SevenSegmentDigit::fromValue(std::optional<qint64> value, qreal width, qreal height,
                                               const QColor &activeColor, const QColor &dimColor)
{
    SegmentPattern segments = 0;
    if (value && *value >= 0 && *value < qint64(digitSegments.size()))
        segments = digitSegments[std::size_t(*value)];
    return {segments, width, height, activeColor, dimColor};
}

SevenSegmentDigit SevenSegmentDigit::fromChar(std::optional<QStringView> character, qreal width, qreal height,
                                              const QColor &activeColor, const QColor &dimColor)
{
    SegmentPattern segments = 0;
    // Only a character that is exactly one ASCII digit lights as a digit: other scripts' digits,
    // and a digit carrying a combining mark, stay unlit.
    if (character && character->size() == 1) {
        const char16_t c = character->front().unicode();
        if (c >= u'0' && c <= u'9')
            segments = digitSegments[std::size_t(c - u'0')];
        else if (c == u'-')
            segments = minusSegments;
    }
    return {segments, width, height, activeColor, dimColor};
}

QRectF SevenSegmentDigit::segRect(int index, QSizeF cell, qreal t, qreal g)
{
    Q_ASSERT(t >= 0 && g >= 0);
    const qreal w = cell.width();
    const qreal h = cell.height();
    const qreal v = h / 2 - t - 2.5 * g;          // length of a vertical segment
    const qreal across = w - 2 * (t + g);         // length of a horizontal segment
    // The upper verticals sit one gap below the top segment; the lower ones reach down to the
    // bottom segment's upper edge. That asymmetry is part of the look.
    switch (index) {
    case 0: return {t + g, g, across, t};
    case 1: return {w - t - g, t + 2 * g, t, v};
    case 2: return {w - t - g, h / 2 + 1.5 * g, t, v};
    case 3: return {t + g, h - t - g, across, t};
    case 4: return {g, h / 2 + 1.5 * g, t, v};
    case 5: return {g, t + 2 * g, t, v};
    case 6: return {t + g, h / 2 - t / 2, across, t};
    default: return {};
    }
}

void SevenSegmentDigit::paint(QPainter &painter, QPointF origin) const
{
    const PlacedDigit placed{*this, origin};
    SegmentPainter(painter).drawDigits({&placed, 1});
}

SegmentPainter::SegmentPainter(QPainter &painter)
    : m_painter(painter)
{
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing, true);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_painter.setPen(Qt::NoPen);
    // Device pixels per point (the pixel ratio, times any scaling), along the more stretched axis.
    const QTransform device = m_painter.deviceTransform();
    m_deviceScale = std::max(std::hypot(device.m11(), device.m12()), std::hypot(device.m21(), device.m22()));
}

SegmentPainter::~SegmentPainter()
{
    m_painter.restore();
}

void SegmentPainter::drawDigits(std::span<const PlacedDigit> digits)
{
    for (Layer layer : {Layer::unlitBodies, Layer::litBodies, Layer::litCores}) {
        for (const PlacedDigit &placed : digits)
            drawLayer(placed.digit, placed.origin, layer);
    }
}

void SegmentPainter::drawLayer(const SevenSegmentDigit &digit, QPointF origin, Layer layer)
{
    // The half-opacity core over a fully opaque body of the same colour leaves that colour
    // unchanged, so it is only worth filling when the body comes out translucent.
    if (layer == Layer::litCores && digit.activeColor.alpha() == 255 && m_painter.opacity() >= 1)
        return;
    const QSizeF cell = digit.size();
    const qreal t = thicknessRatio * cell.width();
    const qreal inset = 0.15 * t;
    QColor coreColor = digit.activeColor;
    coreColor.setAlphaF(digit.activeColor.alphaF() * 0.5f);
    for (int i = 0; i < 7; ++i) {
        const bool lit = digit.segments & (1u << i);
        if (lit == (layer == Layer::unlitBodies))
            continue;
        // A cell too small for a segment simply leaves that segment out.
        const QRectF body = SevenSegmentDigit::segRect(i, cell, t, segmentGap).translated(origin);
        if (!(body.width() > 0) || !(body.height() > 0))
            continue;
        switch (layer) {
        case Layer::unlitBodies: fill(body, 0.3 * t, digit.dimColor); break;
        case Layer::litBodies: fill(body, 0.3 * t, digit.activeColor); break;
        case Layer::litCores: fill(body.adjusted(inset, inset, -inset, -inset), 0.2 * t, coreColor); break;
        }
    }
}

void SegmentPainter::fill(const QRectF &rect, qreal radius, const QColor &color)
{
    // Setting a brush costs as much as filling a small segment, even when it is the same one.
    if (color != m_brushColor) {
        m_painter.setBrush(color);
        m_brushColor = color;
    }
    continuousRoundedPolygon(m_outline, rect, radius, m_deviceScale);
    m_painter.drawPolygon(m_outline, Qt::WindingFill);
}
