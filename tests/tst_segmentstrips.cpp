#include "segmentstrips.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
constexpr int absent = -1;
constexpr int emptyCell = -2;

QList<int> positionsOf(const auto &positions)
{
    QList<int> result;
    for (const DigitPosition &position : positions)
        result.append(position.value_or(absent));
    return result;
}

template<typename Strip>
QImage render(const Strip &strip, qreal ratio)
{
    QImage image((strip.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    strip.paint(painter, {0, 0});
    return image;
}

bool isColor(QColor actual, const QColor &expected)
{
    return qAbs(actual.redF() - expected.redF()) < 0.02f && qAbs(actual.greenF() - expected.greenF()) < 0.02f
        && qAbs(actual.blueF() - expected.blueF()) < 0.02f && qAbs(actual.alphaF() - expected.alphaF()) < 0.02f;
}

// What a person sees in each cell of a rendered strip: the lit pattern read from the seven
// segment centres, or emptyCell when the whole cell is transparent. -100 marks a cell that
// shows neither (a segment centre in a wrong colour).
QList<int> readCells(const QImage &image, qsizetype count, QSizeF cell, qreal spacing)
{
    const qreal ratio = image.devicePixelRatio();
    QList<int> cells;
    for (qsizetype c = 0; c < count; ++c) {
        const QPointF origin(qreal(c) * (cell.width() + spacing), 0);
        const QRect pixels = QRectF(origin * ratio, cell * ratio).toAlignedRect();
        bool empty = true;
        for (int y = pixels.top(); y <= pixels.bottom() && empty; ++y)
            for (int x = pixels.left(); x <= pixels.right() && empty; ++x)
                empty = qAlpha(image.pixel(x, y)) == 0;
        int pattern = 0;
        for (int i = 0; i < 7 && !empty; ++i) {
            const QPointF centre = origin + SevenSegmentDigit::segRect(i, cell, 0.16 * cell.width(), 1.5).center();
            const QColor color = image.pixelColor((centre * ratio).toPoint());
            if (isColor(color, ledRed))
                pattern |= 1 << i;
            else if (!isColor(color, ledDim))
                pattern = -100;
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
    void digitValues_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QList<int>>("positions");
        const int _ = absent;
        QTest::addRow("1234") << qint64(1234) << 8 << QList<int>{_, _, _, _, 1, 2, 3, 4};
        QTest::addRow("inner zeros lit") << qint64(100) << 8 << QList<int>{_, _, _, _, _, 1, 0, 0};
        QTest::addRow("negative") << std::numeric_limits<qint64>::min() << 8 << QList<int>{_, _, _, _, _, _, _, _};
        QTest::addRow("too large") << qint64(123456789) << 8 << QList<int>{9, 9, 9, 9, 9, 9, 9, 9};
        QTest::addRow("one position, too large") << qint64(12) << 1 << QList<int>{9};
        QTest::addRow("no positions: one") << qint64(42) << 0 << QList<int>{9};
        QTest::addRow("largest int positions, largest value: nine nines")
            << std::numeric_limits<qint64>::max() << std::numeric_limits<int>::max()
            << QList<int>{9, 9, 9, 9, 9, 9, 9, 9, 9};
    }

    void digitValues()
    {
        QFETCH(qint64, value);
        QFETCH(int, digits);
        QFETCH(QList<int>, positions);
        const SevenSegmentDisplay display{value, digits, 30, 60, 4, ledRed, ledDim};
        QCOMPARE(positionsOf(display.digitValues()), positions);
        QCOMPARE(display.size(), QSizeF(stripWidth(positions.size(), 30, 4), 60));
    }

    void paddedDigits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("positions");
        const int _ = absent;
        QTest::addRow("per cent") << u"42%"_s << QList<int>{_, 4, 2};
        QTest::addRow("surplus digits dropped") << u"1234"_s << QList<int>{2, 3, 4};
        QTest::addRow("decimal and suffix") << u"12.5K"_s << QList<int>{1, 2, 5};
        QTest::addRow("leading zeros lit") << u"007"_s << QList<int>{0, 0, 7};
        QTest::addRow("negative loses its sign") << u"-3"_s << QList<int>{_, _, 3};
        QTest::addRow("digit with combining mark dropped") << u"12\u0301"_s << QList<int>{_, _, 1};
    }

    void paddedDigits()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, positions);
        const SmallSegmentDisplay display{text, 24, 46, 3, ledRed, ledDim};
        QCOMPARE(positionsOf(display.paddedDigits()), positions);
        QCOMPARE(display.size(), QSizeF(78, 46));
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
        QTest::addRow("accent built from two code points") << u"e\u0301x"_s << 2.0 << QList<int>{0, 0};
        QTest::addRow("Arabic-Indic digit, digit with a combining mark") << u"\u06633\u0301"_s << 2.0 << QList<int>{0, 0};
        QTest::addRow("empty") << QString() << 2.0 << QList<int>{};
    }

    // One cell per user-perceived character, drawn where a person expects it.
    // The numeric strips share the cell painter, so this also covers where their digits go.
    void stringCells()
    {
        QFETCH(QString, text);
        QFETCH(qreal, ratio);
        QFETCH(QList<int>, cells);
        const SevenSegmentStringDisplay display{text, 30, 60, 4, ledRed, ledDim};
        QCOMPARE(display.cells().size(), cells.size());
        QCOMPARE(display.size(), cells.isEmpty() ? QSizeF(0, 0) : QSizeF(stripWidth(cells.size(), 30, 4), 60));
        if (cells.isEmpty())
            return;
        QCOMPARE(readCells(render(display, ratio), cells.size(), {30, 60}, 4), cells);
    }
};

QTEST_MAIN(TestSegmentStrips)
#include "tst_segmentstrips.moc"
