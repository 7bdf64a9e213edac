#include "sevensegmentdigit.h"

#include <QImage>
#include <QPainter>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
constexpr qreal margin = 5; // transparent border around the cell, to catch drawing outside it

QImage render(const SevenSegmentDigit &digit, qreal ratio, qreal opacity = 1)
{
    const QSizeF size = digit.size() + QSizeF(2 * margin, 2 * margin);
    QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setOpacity(opacity);
    digit.paint(painter, {margin, margin});
    return image;
}

// Colour of the device pixel under a point given in cell coordinates.
QColor colorAt(const QImage &image, QPointF point)
{
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(int((point.x() + margin) * ratio), int((point.y() + margin) * ratio));
}

bool sameColor(const QColor &a, const QColor &b)
{
    const float tolerance = 0.02f;
    return qAbs(a.redF() - b.redF()) < tolerance && qAbs(a.greenF() - b.greenF()) < tolerance
        && qAbs(a.blueF() - b.blueF()) < tolerance && qAbs(a.alphaF() - b.alphaF()) < tolerance;
}

// Every device pixel lying wholly inside region (cell coordinates) is fully transparent;
// fails if the region holds no whole pixel, so that the check never passes vacuously.
void verifyTransparent(const QImage &image, const QRectF &region)
{
    const qreal ratio = image.devicePixelRatio();
    const QRectF device((region.topLeft() + QPointF(margin, margin)) * ratio, region.size() * ratio);
    int checked = 0;
    for (int y = int(std::ceil(device.top())); y + 1 <= device.bottom(); ++y) {
        for (int x = int(std::ceil(device.left())); x + 1 <= device.right(); ++x) {
            QVERIFY2(qAlpha(image.pixel(x, y)) == 0, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            ++checked;
        }
    }
    QVERIFY(checked > 0);
}

} // namespace

class TestSegmentDigit : public QObject
{
    Q_OBJECT

private slots:
    void fromValue_data()
    {
        QTest::addColumn<std::optional<qint64>>("value");
        QTest::addColumn<int>("segments");
        QTest::addRow("absent") << std::optional<qint64>() << 0;
        QTest::addRow("zero") << std::optional<qint64>(0) << 0x3F;
        QTest::addRow("seven has no upper left") << std::optional<qint64>(7) << 0x07;
        QTest::addRow("minus one") << std::optional<qint64>(-1) << 0;
        QTest::addRow("ten") << std::optional<qint64>(10) << 0;
        QTest::addRow("largest") << std::optional<qint64>(std::numeric_limits<qint64>::max()) << 0;
        QTest::addRow("smallest") << std::optional<qint64>(std::numeric_limits<qint64>::min()) << 0;
    }

    void fromValue()
    {
        QFETCH(std::optional<qint64>, value);
        QFETCH(int, segments);
        const auto digit = SevenSegmentDigit::fromValue(value, 30, 60, ledRed, ledDim);
        QCOMPARE(digit.segments, segments);
        QCOMPARE(digit.size(), QSizeF(30, 60));
        QCOMPARE(digit.activeColor, ledRed);
        QCOMPARE(digit.dimColor, ledDim);
    }

    void fromChar_data()
    {
        QTest::addColumn<std::optional<QString>>("character");
        QTest::addColumn<int>("segments");
        QTest::addRow("absent") << std::optional<QString>() << 0;
        QTest::addRow("eight") << std::optional<QString>(u"8"_s) << 0x7F;
        QTest::addRow("six has its top") << std::optional<QString>(u"6"_s) << 0x7D;
        QTest::addRow("nine has its bottom") << std::optional<QString>(u"9"_s) << 0x6F;
        QTest::addRow("minus") << std::optional<QString>(u"-"_s) << 0x40;
        QTest::addRow("plus") << std::optional<QString>(u"+"_s) << 0;
        QTest::addRow("full stop") << std::optional<QString>(u"."_s) << 0;
        QTest::addRow("letter K") << std::optional<QString>(u"K"_s) << 0;
        QTest::addRow("space") << std::optional<QString>(u" "_s) << 0;
        QTest::addRow("en dash") << std::optional<QString>(u"\u2013"_s) << 0;
        QTest::addRow("Arabic-Indic three") << std::optional<QString>(u"\u0663"_s) << 0;
        QTest::addRow("fullwidth three") << std::optional<QString>(u"\uFF13"_s) << 0;
        QTest::addRow("three with a combining mark") << std::optional<QString>(u"3\u0301"_s) << 0;
    }

    void fromChar()
    {
        QFETCH(std::optional<QString>, character);
        QFETCH(int, segments);
        const auto view = character ? std::optional<QStringView>(*character) : std::nullopt;
        QCOMPARE(SevenSegmentDigit::fromChar(view, 30, 60, ledRed, ledDim).segments, segments);
    }

    void segRectWorkedExample_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QRectF>("rect");
        QTest::addRow("top") << 0 << QRectF(6.3, 1.5, 17.4, 4.8);
        QTest::addRow("upper right") << 1 << QRectF(23.7, 7.8, 4.8, 21.45);
        QTest::addRow("lower right") << 2 << QRectF(23.7, 32.25, 4.8, 21.45);
        QTest::addRow("bottom") << 3 << QRectF(6.3, 53.7, 17.4, 4.8);
        QTest::addRow("lower left") << 4 << QRectF(1.5, 32.25, 4.8, 21.45);
        QTest::addRow("upper left") << 5 << QRectF(1.5, 7.8, 4.8, 21.45);
        QTest::addRow("middle") << 6 << QRectF(6.3, 27.6, 17.4, 4.8);
        QTest::addRow("no such segment") << 7 << QRectF();
        QTest::addRow("negative index") << -1 << QRectF();
    }

    void segRectWorkedExample()
    {
        QFETCH(int, index);
        QFETCH(QRectF, rect);
        const QRectF actual = SevenSegmentDigit::segRect(index, {30, 60}, 0.16 * 30, 1.5);
        for (auto [a, b] : {std::pair{actual.x(), rect.x()}, {actual.y(), rect.y()},
                            {actual.width(), rect.width()}, {actual.height(), rect.height()}})
            QVERIFY2(qAbs(a - b) < 1e-9, qPrintable(QStringLiteral("%1 != %2").arg(a).arg(b)));
    }

    void paintsSegmentsAndGaps_data()
    {
        QTest::addColumn<int>("segments");
        QTest::addColumn<QSizeF>("cell");
        QTest::addColumn<qreal>("ratio");
        for (qreal ratio : {1.0, 2.0}) {
            QTest::addRow("eight, ratio %g", ratio) << 0x7F << QSizeF(30, 60) << ratio;
            QTest::addRow("unlit, ratio %g", ratio) << 0x00 << QSizeF(30, 60) << ratio;
            QTest::addRow("two, small cell, ratio %g", ratio) << 0x5B << QSizeF(24, 46) << ratio;
            QTest::addRow("four, double width, ratio %g", ratio) << 0x66 << QSizeF(60, 120) << ratio;
        }
    }

    // Segment centres show the lit or the unlit colour; the gaps, which stay 1.5 points
    // whatever the cell size, and everything outside the cell stay fully transparent.
    void paintsSegmentsAndGaps()
    {
        QFETCH(int, segments);
        QFETCH(QSizeF, cell);
        QFETCH(qreal, ratio);
        const SevenSegmentDigit digit{SegmentPattern(segments), cell.width(), cell.height(), ledRed, ledDim};
        const QImage image = render(digit, ratio);
        const qreal w = cell.width(), h = cell.height(), t = 0.16 * w, g = 1.5;
        for (int i = 0; i < 7; ++i) {
            const QColor expected = (segments >> i) & 1 ? ledRed : ledDim;
            const QColor actual = colorAt(image, SevenSegmentDigit::segRect(i, cell, t, g).center());
            QVERIFY2(sameColor(actual, expected), qPrintable(QStringLiteral("segment %1").arg(i)));
        }
        const QRectF outside(-margin, -margin, w + 2 * margin, h + 2 * margin);
        verifyTransparent(image, {outside.left(), outside.top(), outside.width(), margin + g});
        verifyTransparent(image, {outside.left(), outside.top(), margin + g, outside.height()});
        verifyTransparent(image, {w - g, outside.top(), margin + g, outside.height()});
        verifyTransparent(image, {outside.left(), h - g, outside.width(), margin + g});
        verifyTransparent(image, {g, 0, t, t + 2 * g});                      // above the upper left
        verifyTransparent(image, {w - t - g, 0, t, t + 2 * g});              // above the upper right
        verifyTransparent(image, {0, h / 2 - 0.5 * g, t + g, 2 * g});        // between the left verticals
        verifyTransparent(image, {w - t - g, h / 2 - 0.5 * g, t + g, 2 * g}); // between the right ones
        verifyTransparent(image, {t + g, t + g, w - 2 * (t + g), h / 2 - 1.5 * t - g}); // upper hole
        verifyTransparent(image, {t + g, h / 2 + t / 2, w - 2 * (t + g), h / 2 - 1.5 * t - g}); // lower hole
    }

    void coreOnlyOnLitSegments_data()
    {
        QTest::addColumn<qreal>("alpha");
        QTest::addColumn<qreal>("opacity");
        QTest::addColumn<qreal>("ratio");
        QTest::addRow("translucent colours, ratio 1") << 0.4 << 1.0 << 1.0;
        QTest::addRow("translucent colours, ratio 2") << 0.4 << 1.0 << 2.0;
        QTest::addRow("opaque colours, painter opacity 0.5") << 1.0 << 0.5 << 2.0;
    }

    // A lit segment's half-opacity core shows as a denser inner band wherever the body is
    // translucent; unlit segments are one even colour.
    void coreOnlyOnLitSegments()
    {
        QFETCH(qreal, alpha);
        QFETCH(qreal, opacity);
        QFETCH(qreal, ratio);
        QColor active = ledRed, dimmed = ledDim;
        active.setAlphaF(float(alpha));
        dimmed.setAlphaF(float(alpha));
        const QSizeF cell(100, 200); // thick enough for the body's rim around the core to hold whole pixels
        const SegmentPattern segments = 0x55;
        const QImage image = render({segments, cell.width(), cell.height(), active, dimmed}, ratio, opacity);
        const qreal t = 16, body = alpha * opacity;
        for (int i = 0; i < 7; ++i) {
            const QRectF r = SevenSegmentDigit::segRect(i, cell, t, 1.5);
            const bool horizontal = r.width() > r.height();
            const QPointF rim = horizontal ? QPointF(r.center().x(), r.top() + 0.075 * t)
                                           : QPointF(r.left() + 0.075 * t, r.center().y());
            const qreal rimAlpha = colorAt(image, rim).alphaF();
            const qreal centreAlpha = colorAt(image, r.center()).alphaF();
            const bool lit = (segments >> i) & 1;
            const qreal expectedCentre = lit ? body + 0.5 * body * (1 - body) : body;
            QVERIFY2(qAbs(rimAlpha - body) < 0.02, qPrintable(QStringLiteral("segment %1 rim").arg(i)));
            QVERIFY2(qAbs(centreAlpha - expectedCentre) < 0.02, qPrintable(QStringLiteral("segment %1 core").arg(i)));
        }
    }

    void restoresPainterState()
    {
        QImage image(40, 70, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setPen(QPen(Qt::blue, 3));
        painter.setBrush(Qt::green);
        painter.setCompositionMode(QPainter::CompositionMode_Plus);
        SevenSegmentDigit::fromValue(8, 30, 60, ledRed, ledDim).paint(painter, {5, 5});
        QCOMPARE(painter.pen(), QPen(Qt::blue, 3));
        QCOMPARE(painter.brush(), QBrush(Qt::green));
        QCOMPARE(painter.compositionMode(), QPainter::CompositionMode_Plus);
        QVERIFY(!painter.testRenderHint(QPainter::Antialiasing));
    }
};

QTEST_MAIN(TestSegmentDigit)
#include "tst_segmentdigit.moc"
