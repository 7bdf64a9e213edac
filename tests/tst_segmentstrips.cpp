#include "roundedshape.h"
#include "segmentstrips.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <limits>
#include <numbers>

using namespace Qt::StringLiterals;

namespace {

const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
constexpr int emptyCell = -2;

// Positions as text: a digit, or "_" for an unlit position.
QString positionsOf(const auto &positions)
{
    QString text;
    for (const DigitPosition &position : positions)
        text += position ? QChar(u'0' + *position) : u'_';
    return text;
}

// What a person sees in each cell of a rendered 30 x 60 strip with spacing 4: the lit pattern
// read from the seven segment centres, emptyCell when the whole cell is transparent, -100 when
// a segment centre shows neither colour.
QList<int> readCells(const SevenSegmentStringDisplay &strip, qreal ratio)
{
    QImage image((strip.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    strip.paint(painter, {0, 0});
    painter.end();
    QList<int> cells;
    for (qsizetype c = 0; c < strip.cells().size(); ++c) {
        const QPointF origin(qreal(c) * 34, 0);
        const QRect pixels = QRectF(origin * ratio, QSizeF(30, 60) * ratio).toAlignedRect();
        bool empty = true;
        for (int y = pixels.top(); y <= pixels.bottom() && empty; ++y)
            for (int x = pixels.left(); x <= pixels.right() && empty; ++x)
                empty = qAlpha(image.pixel(x, y)) == 0;
        int pattern = 0;
        for (int i = 0; i < 7 && !empty; ++i) {
            const QRgb rgb = image.pixel(((origin + SevenSegmentDigit::segRect(i, {30, 60}, 4.8, 1.5).center()) * ratio).toPoint());
            pattern = rgb == ledRed.rgba() ? pattern | 1 << i : rgb == ledDim.rgba() ? pattern : -100;
        }
        cells.append(empty ? emptyCell : pattern);
    }
    return cells;
}

} // namespace

class TestSegmentStrips : public QObject
{
    Q_OBJECT

private slots:
    void outline_data()
    {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<qreal>("radius");
        QTest::addColumn<qreal>("effectiveRadius"); // 0: a plain rectangle
        QTest::addRow("segment") << QRectF(6.3, 1.5, 17.4, 4.8) << 1.44 << 1.44;
        QTest::addRow("beyond half the side: pill") << QRectF(-10, -10, 100, 20) << 500.0 << 10.0;
        QTest::addRow("not-a-number radius") << QRectF(0, 0, 10, 5) << std::numeric_limits<qreal>::quiet_NaN() << 0.0;
        QTest::addRow("no area") << QRectF(0, 0, -10, 5) << 2.0 << 0.0;
    }

    // The rounded outline (path and flattened polygon alike) fills its rectangle and meets the
    // circle of its radius on each corner's diagonal.
    void outline()
    {
        QFETCH(QRectF, rect);
        QFETCH(qreal, radius);
        QFETCH(qreal, effectiveRadius);
        const QPainterPath path = continuousRoundedRect(rect, radius);
        const QPolygonF polygon = continuousRoundedPolygon(rect, radius, 2);
        QCOMPARE(path.isEmpty() && polygon.isEmpty(), rect.isEmpty());
        if (rect.isEmpty())
            return;
        QCOMPARE(path.boundingRect(), rect);
        const qreal e = 0.02 * std::max(effectiveRadius, 1.0);
        const qreal diagonal = (std::numbers::sqrt2 - 1) * effectiveRadius / std::numbers::sqrt2;
        for (const QPointF corner : {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()}) {
            const QPointF inward(corner.x() < rect.center().x() ? 1 : -1, corner.y() < rect.center().y() ? 1 : -1);
            QCOMPARE(polygon.containsPoint(corner + e * inward, Qt::OddEvenFill), effectiveRadius == 0);
            QVERIFY(path.contains(corner + (diagonal + e) * inward));
            QVERIFY(effectiveRadius == 0 || !path.contains(corner + (diagonal - e) * inward));
        }
    }

    // The eight-position number (digits given) and the three-position per cent (digits -1).
    void positions_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("positions");
        QTest::addRow("inner zeros lit") << u"100"_s << 8 << u"_____100"_s;
        QTest::addRow("negative") << QString::number(std::numeric_limits<qint64>::min()) << 8 << u"________"_s;
        QTest::addRow("too large") << u"123456789"_s << 8 << u"99999999"_s;
        QTest::addRow("largest everything: nine nines")
            << QString::number(std::numeric_limits<qint64>::max()) << std::numeric_limits<int>::max() << u"999999999"_s;
        QTest::addRow("per cent") << u"42%"_s << -1 << u"_42"_s;
        QTest::addRow("surplus digits dropped") << u"1234"_s << -1 << u"234"_s;
        QTest::addRow("digit with combining mark dropped") << u"12\u0301"_s << -1 << u"__1"_s;
    }

    void positions()
    {
        QFETCH(QString, content);
        QFETCH(int, digits);
        QFETCH(QString, positions);
        if (digits < 0) {
            QCOMPARE(positionsOf(SmallSegmentDisplay{content, 24, 46, 3, ledRed, ledDim}.paddedDigits()), positions);
            return;
        }
        const SevenSegmentDisplay display{content.toLongLong(), digits, 30, 60, 4, ledRed, ledDim};
        QCOMPARE(positionsOf(display.digitValues()), positions);
        QCOMPARE(display.size(), QSizeF(stripWidth(positions.size(), 30, 4), 60));
    }

    void stringCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QList<int>>("cells");
        const int e = emptyCell;
        QTest::addRow("space, minus, five") << u" -5"_s << 2.0 << QList<int>{e, 0x40, 0x6D};
        QTest::addRow("digits and look-alikes") << u"0123456789+\u2013K"_s << 1.0
                                               << QList<int>{0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F, 0, 0, 0};
        QTest::addRow("countdown") << u"01 02 03"_s << 1.0 << QList<int>{0x3F, 0x06, e, 0x3F, 0x5B, e, 0x3F, 0x4F};
        QTest::addRow("Arabic-Indic digit, digit with a combining mark") << u"\u06633\u0301"_s << 2.0 << QList<int>{0, 0};
    }

    // One cell per user-perceived character, drawn where a person expects it. The numeric
    // strips share the cell painter, so this also covers where their digits go.
    void stringCells()
    {
        QFETCH(QString, text);
        QFETCH(qreal, ratio);
        QFETCH(QList<int>, cells);
        const SevenSegmentStringDisplay display{text, 30, 60, 4, ledRed, ledDim};
        QCOMPARE(display.size(), QSizeF(stripWidth(cells.size(), 30, 4), 60));
        QCOMPARE(readCells(display, ratio), cells);
        QCOMPARE(SevenSegmentStringDisplay{}.size(), QSizeF(0, 0));
    }
};

QTEST_MAIN(TestSegmentStrips)
#include "tst_segmentstrips.moc"
