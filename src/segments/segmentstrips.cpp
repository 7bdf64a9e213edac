#include "segmentstrips.h"

#include "segmentpainter.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

constexpr int minDigits = 1;
constexpr int maxDigits = 9; // 10^9 - 1 is the largest all-nines value that needs no more

QSizeF rowSize(qsizetype cells, qreal cellWidth, qreal cellHeight, qreal spacing)
{
    if (cells <= 0)
        return {0, 0};
    return {stripWidth(cells, cellWidth, spacing), cellHeight};
}

// Origin of cell index in a row starting at origin.
QPointF cellOrigin(QPointF origin, qsizetype index, qreal cellWidth, qreal spacing)
{
    return origin + QPointF(qreal(index) * (cellWidth + spacing), 0);
}

// One digit cell per position, left to right.
template<typename Positions>
void paintPositions(QPainter &painter, QPointF origin, const Positions &positions, qreal width, qreal height,
                    qreal spacing, const QColor &activeColor, const QColor &dimColor)
{
    std::vector<PlacedDigit> cells;
    cells.reserve(positions.size());
    for (const DigitPosition &position : positions) {
        cells.push_back({SevenSegmentDigit::fromValue(position, width, height, activeColor, dimColor),
                         cellOrigin(origin, qsizetype(cells.size()), width, spacing)});
    }
    SegmentPainter(painter).drawDigits(cells);
}

bool isDecimalDigit(QStringView character)
{
    return character.size() == 1 && character.front() >= u'0' && character.front() <= u'9';
}

QStringList graphemes(const QString &text)
{
    QStringList clusters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        clusters.append(text.mid(start, end - start));
        start = end;
    }
    return clusters;
}

} // namespace

qreal stripWidth(qsizetype cells, qreal cellWidth, qreal spacing)
{
    Q_ASSERT(cellWidth >= 0 && spacing >= 0);
    if (cells <= 0)
        return 0;
    return qreal(cells) * cellWidth + qreal(cells - 1) * spacing;
}

int SevenSegmentDisplay::positions() const
{
    return std::clamp(digits, minDigits, maxDigits);
}

std::vector<DigitPosition> SevenSegmentDisplay::digitValues() const
{
    const int count = positions();
    qint64 top = 1;
    for (int i = 0; i < count; ++i)
        top *= 10;
    top -= 1;
    qint64 n = std::min(std::max<qint64>(value, 0), top);

    // Fill from the right; leading zeros stay unlit, so 0 shows as no lit digit at all.
    std::vector<DigitPosition> result(static_cast<std::size_t>(count));
    for (int i = count - 1; i >= 0 && n > 0; --i) {
        result[std::size_t(i)] = int(n % 10);
        n /= 10;
    }
    return result;
}

QSizeF SevenSegmentDisplay::size() const
{
    return rowSize(positions(), digitWidth, digitHeight, spacing);
}

void SevenSegmentDisplay::paint(QPainter &painter, QPointF origin) const
{
    paintPositions(painter, origin, digitValues(), digitWidth, digitHeight, spacing, activeColor, dimColor);
}

std::array<DigitPosition, 3> SmallSegmentDisplay::paddedDigits() const
{
    // Keep the last three decimal digits, right-aligned; zeros are lit wherever they stand.
    std::array<DigitPosition, 3> result;
    std::size_t filled = 0;
    const QStringList characters = graphemes(text);
    for (auto it = characters.crbegin(); it != characters.crend() && filled < result.size(); ++it) {
        if (isDecimalDigit(*it))
            result[result.size() - 1 - filled++] = it->front().unicode() - u'0';
    }
    return result;
}

QSizeF SmallSegmentDisplay::size() const
{
    return rowSize(3, digitWidth, digitHeight, spacing);
}

void SmallSegmentDisplay::paint(QPainter &painter, QPointF origin) const
{
    paintPositions(painter, origin, paddedDigits(), digitWidth, digitHeight, spacing, activeColor, dimColor);
}

QStringList SevenSegmentStringDisplay::cells() const
{
    return graphemes(text);
}

QSizeF SevenSegmentStringDisplay::size() const
{
    return rowSize(cells().size(), digitWidth, digitHeight, spacing);
}

void SevenSegmentStringDisplay::paint(QPainter &painter, QPointF origin) const
{
    const QStringList characters = cells();
    std::vector<PlacedDigit> digits;
    digits.reserve(std::size_t(characters.size()));
    for (qsizetype i = 0; i < characters.size(); ++i) {
        // Only the plain space is an empty cell; a tab or a no-break space is an unlit digit.
        if (characters[i] == u" ")
            continue;
        digits.push_back({SevenSegmentDigit::fromChar(characters[i], digitWidth, digitHeight, activeColor, dimColor),
                          cellOrigin(origin, i, digitWidth, spacing)});
    }
    SegmentPainter(painter).drawDigits(digits);
}
