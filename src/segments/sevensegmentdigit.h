#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

class QPainter;

// Segment pattern: bit i lit means segment i lit
// (0 top, 1 upper right, 2 lower right, 3 bottom, 4 lower left, 5 upper left, 6 middle).
using SegmentPattern = std::uint8_t;

inline constexpr std::array<SegmentPattern, 10> digitSegments{
    0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
inline constexpr SegmentPattern minusSegments = 0x40;

// One seven-segment LED digit of a given cell size. Lit segments are drawn in the active
// colour with a half-opacity core, unlit ones in the dim colour; nothing else is drawn.
struct SevenSegmentDigit
{
    SegmentPattern segments = 0;
    qreal width = 0;
    qreal height = 0;
    QColor activeColor;
    QColor dimColor;

    // Digits 0 to 9 light their pattern; absent or any other value is an unlit digit.
    static SevenSegmentDigit fromValue(std::optional<qint64> value, qreal width, qreal height,
                                       const QColor &activeColor, const QColor &dimColor);
    // One user-perceived character: an ASCII digit lights its pattern, "-" the middle segment,
    // anything else (absent included) is an unlit digit.
    static SevenSegmentDigit fromChar(std::optional<QStringView> character, qreal width, qreal height,
                                      const QColor &activeColor, const QColor &dimColor);

    QSizeF size() const { return {width, height}; }
    // Paints the digit with its cell's top-left corner at origin.
    void paint(QPainter &painter, QPointF origin) const;

    // Rectangle of segment index in a cell of the given size, thickness and gap; empty for other indices.
    static QRectF segRect(int index, QSizeF cell, qreal thickness, qreal gap);
};
