#include "roundedshape.h"
#include "sevensegmentdigit.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>

using namespace Qt::StringLiterals;

namespace {

const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
constexpr qreal margin = 5; // transparent border around the cell, to catch drawing outside it

bool sameColor(const QColor &a, const QColor &b)
{
    return qAbs(a.redF() - b.redF()) < 0.02f && qAbs(a.greenF() - b.greenF()) < 0.02f
        && qAbs(a.blueF() - b.blueF()) < 0.02f && qAbs(a.alphaF() - b.alphaF()) < 0.02f;
}

} // namespace

class TestSegmentDigit : public QObject
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

    void fromValue()
    {
        const auto segments = [](std::optional<qint64> value) {
            return SevenSegmentDigit::fromValue(value, 30, 60, ledRed, ledDim).segments;
        };
        QCOMPARE((QList<int>{segments(std::nullopt), segments(0), segments(7), segments(-1), segments(10)}),
                 (QList<int>{0, 0x3F, 0x07, 0, 0}));
    }

    void paints_data()
    {
        QTest::addColumn<int>("segments");
        QTest::addColumn<QSizeF>("cell");
        QTest::addColumn<qreal>("ratio");
        QTest::addRow("eight, ratio 1") << 0x7F << QSizeF(30, 60) << 1.0;
        QTest::addRow("unlit, ratio 2") << 0x00 << QSizeF(30, 60) << 2.0;
        QTest::addRow("two, small cell, ratio 2") << 0x5B << QSizeF(24, 46) << 2.0;
    }

    // Each segment shows lit or unlit at its place; the holes of the digit, the gaps between the
    // verticals and everything outside the cell stay transparent.
    void paints()
    {
        QFETCH(int, segments);
        QFETCH(QSizeF, cell);
        QFETCH(qreal, ratio);
        QImage image(((cell + QSizeF(2 * margin, 2 * margin)) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        SevenSegmentDigit{SegmentPattern(segments), cell.width(), cell.height(), ledRed, ledDim}.paint(painter, {margin, margin});
        painter.end();
        const auto colorAt = [&](QPointF p) { return image.pixelColor(((p + QPointF(margin, margin)) * ratio).toPoint()); };

        const qreal t = 0.16 * cell.width();
        for (int i = 0; i < 7; ++i) {
            const QRectF r = SevenSegmentDigit::segRect(i, cell, t, 1.5);
            QVERIFY2(sameColor(colorAt(r.center()), (segments >> i) & 1 ? ledRed : ledDim), qPrintable(u"segment %1"_s.arg(i)));
        }
        const qreal w = cell.width(), h = cell.height();
        for (const QPointF clear : {QPointF(-2, -2), QPointF(w + 2, h / 2), QPointF(w / 2, h + 2), QPointF(0.5, 0.5),
                                    QPointF(w / 2, h / 4 + 1), QPointF(w / 2, 3 * h / 4), QPointF(0.5 + t / 2, h / 2)})
            QVERIFY2(colorAt(clear).alpha() == 0, qPrintable(u"%1,%2"_s.arg(clear.x()).arg(clear.y())));
    }
};

QTEST_MAIN(TestSegmentDigit)
#include "tst_segmentdigit.moc"
