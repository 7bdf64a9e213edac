#pragma once

#include "sevensegmentdigit.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// A position of a strip: a digit 0 to 9, or absent for an unlit position.
using DigitPosition = std::optional<int>;

// Width of a row of n cells: n cells and n - 1 gaps; an empty row has no size.
qreal stripWidth(qsizetype cells, qreal cellWidth, qreal spacing);

// A non-negative integer in a fixed number of positions, right-aligned, leading positions unlit.
struct SevenSegmentDisplay
{
    qint64 value = 0;
    int digits = 8; // clamped to 1..9 when used
    qreal digitWidth = 0;
    qreal digitHeight = 0;
    qreal spacing = 0;
    QColor activeColor;
    QColor dimColor;

    // The number of positions actually shown: digits clamped to 1..9.
    int positions() const;
    std::vector<DigitPosition> digitValues() const;
    QSizeF size() const;
    void paint(QPainter &painter, QPointF origin) const;
};

// The decimal digits found in a text, in exactly three right-aligned positions.
struct SmallSegmentDisplay
{
    QString text;
    qreal digitWidth = 0;
    qreal digitHeight = 0;
    qreal spacing = 0;
    QColor activeColor;
    QColor dimColor;

    std::array<DigitPosition, 3> paddedDigits() const;
    QSizeF size() const;
    void paint(QPainter &painter, QPointF origin) const;
};

// A text, one cell per user-perceived character: digits and "-" as segments, the plain
// space as an empty transparent cell, anything else as an unlit digit.
struct SevenSegmentStringDisplay
{
    QString text;
    qreal digitWidth = 0;
    qreal digitHeight = 0;
    qreal spacing = 0;
    QColor activeColor;
    QColor dimColor;

    QStringList cells() const; // the grapheme clusters of text
    QSizeF size() const;
    void paint(QPainter &painter, QPointF origin) const;
};
