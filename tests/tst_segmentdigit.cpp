#include "sevensegmentdigit.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
constexpr qreal margin = 5; // transparent border around the cell, to catch drawing outside it

QImage render(const SevenSegmentDigit &digit, qreal ratio, qreal opacity = 1)
{
    QImage image(((digit.size() + QSizeF(2 * margin, 2 * margin)) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
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
    return qAbs(a.redF() - b.redF()) < 0.02f && qAbs(a.greenF() - b.greenF()) < 0.02f
        && qAbs(a.blueF() - b.blueF()) < 0.02f && qAbs(a.alphaF() - b.alphaF()) < 0.02f;
}

// Every device pixel lying wholly inside region (cell coordinates) is fully transparent;
// fails if the region holds no whole pixel, so that the check never passes vacuously.
void verifyTransparent(const QImage &image, const QRectF &region)
{
    const qreal ratio = image.devicePixelRatio();
    const QRectF device(region.translated(margin, margin).topLeft() * ratio, region.size() * ratio);
    int checked = 0;
    for (int y = int(std::ceil(device.top())); y + 1 <= device.bottom(); ++y) {
        for (int x = int(std::ceil(device.left())); x + 1 <= device.right(); ++x, ++checked)
            QVERIFY2(qAlpha(image.pixel(x, y)) == 0, qPrintable(u"pixel %1,%2"_s.arg(x).arg(y)));
    }
    QVERIFY(checked > 0);
}

} // namespace

class TestSegmentDigit : public QObject
{
    Q_OBJECT

private slots:
    // Characters are covered through the string strip, which is how the panel uses them.
    void fromValue()
    {
        const auto segments = [](std::optional<qint64> value) {
            return SevenSegmentDigit::fromValue(value, 30, 60, ledRed, ledDim).segments;
        };
        QCOMPARE(segments(std::nullopt), 0);
        QCOMPARE(segments(0), 0x3F);
        QCOMPARE(segments(7), 0x07);
        QCOMPARE(segments(-1), 0);
        QCOMPARE(segments(10), 0);
        QCOMPARE(segments(std::numeric_limits<qint64>::max()), 0);
    }

    void segRectWorkedExample()
    {
        const QRectF expected[] = {{6.3, 1.5, 17.4, 4.8},    {23.7, 7.8, 4.8, 21.45}, {23.7, 32.25, 4.8, 21.45},
                                   {6.3, 53.7, 17.4, 4.8},   {1.5, 32.25, 4.8, 21.45}, {1.5, 7.8, 4.8, 21.45},
                                   {6.3, 27.6, 17.4, 4.8}, {}, {}};
        for (int i = 0; i < 9; ++i) {
            const QRectF actual = SevenSegmentDigit::segRect(i < 8 ? i : -1, {30, 60}, 4.8, 1.5);
            QVERIFY2(QLineF(actual.topLeft(), expected[i].topLeft()).length() < 1e-9
                         && QLineF(actual.bottomRight(), expected[i].bottomRight()).length() < 1e-9,
                     qPrintable(u"segment %1"_s.arg(i)));
        }
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

    // Segments sit where their rectangles say, lit or unlit, with thickness following the width;
    // the 1.5-point gaps and everything outside the cell stay fully transparent.
    void paintsSegmentsAndGaps()
    {
        QFETCH(int, segments);
        QFETCH(QSizeF, cell);
        QFETCH(qreal, ratio);
        const QImage image = render({SegmentPattern(segments), cell.width(), cell.height(), ledRed, ledDim}, ratio);
        const qreal w = cell.width(), h = cell.height(), t = 0.16 * w, g = 1.5;
        for (int i = 0; i < 7; ++i) {
            const QRectF r = SevenSegmentDigit::segRect(i, cell, t, g);
            QVERIFY2(sameColor(colorAt(image, r.center()), (segments >> i) & 1 ? ledRed : ledDim), qPrintable(u"segment %1"_s.arg(i)));
            const qreal in = 0.5;
            for (const QPointF edge : {QPointF(r.center().x(), r.top() + in), QPointF(r.center().x(), r.bottom() - in),
                                       QPointF(r.left() + in, r.center().y()), QPointF(r.right() - in, r.center().y())})
                QVERIFY2(colorAt(image, edge).alphaF() > 0.5, qPrintable(u"segment %1 edge"_s.arg(i)));
        }
        const QRectF outside(-margin, -margin, w + 2 * margin, h + 2 * margin);
        verifyTransparent(image, {outside.left(), outside.top(), outside.width(), margin + g});
        verifyTransparent(image, {outside.left(), outside.top(), margin + g, outside.height()});
        verifyTransparent(image, {w - g, outside.top(), margin + g, outside.height()});
        verifyTransparent(image, {outside.left(), h - g, outside.width(), margin + g});
        verifyTransparent(image, {g, 0, t, t + 2 * g});                       // above the upper left
        verifyTransparent(image, {w - t - g, 0, t, t + 2 * g});               // above the upper right
        verifyTransparent(image, {0, h / 2 - 0.5 * g, t + g, 2 * g});         // between the left verticals
        verifyTransparent(image, {w - t - g, h / 2 - 0.5 * g, t + g, 2 * g}); // between the right ones
        verifyTransparent(image, {t + g, t + g, w - 2 * (t + g), h / 2 - 1.5 * t - g});         // upper hole
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

    // Where the body comes out translucent, a lit segment's half-opacity core shows as a denser
    // inner band; an unlit segment is one even colour.
    void coreOnlyOnLitSegments()
    {
        QFETCH(qreal, alpha);
        QFETCH(qreal, opacity);
        QFETCH(qreal, ratio);
        QColor active = ledRed, dimmed = ledDim;
        active.setAlphaF(float(alpha));
        dimmed.setAlphaF(float(alpha));
        const QSizeF cell(100, 200); // thick enough for whole pixels in the rim around the core
        const SegmentPattern segments = 0x55;
        const QImage image = render({segments, cell.width(), cell.height(), active, dimmed}, ratio, opacity);
        const qreal t = 16, body = alpha * opacity;
        for (int i = 0; i < 7; ++i) {
            const QRectF r = SevenSegmentDigit::segRect(i, cell, t, 1.5);
            const QPointF rim = r.width() > r.height() ? QPointF(r.center().x(), r.top() + 0.075 * t)
                                                       : QPointF(r.left() + 0.075 * t, r.center().y());
            const qreal core = (segments >> i) & 1 ? body + 0.5 * body * (1 - body) : body;
            QVERIFY2(qAbs(colorAt(image, rim).alphaF() - body) < 0.02, qPrintable(u"segment %1 rim"_s.arg(i)));
            QVERIFY2(qAbs(colorAt(image, r.center()).alphaF() - core) < 0.02, qPrintable(u"segment %1 core"_s.arg(i)));
        }
    }

    void restoresPainterState()
    {
        QImage image(40, 70, QImage::Format_ARGB32_Premultiplied);
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
