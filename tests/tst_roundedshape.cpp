#include "roundedshape.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

class TestRoundedShape : public QObject
{
    Q_OBJECT

private slots:
    void outline_data()
    {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<qreal>("radius");
        QTest::addColumn<qreal>("effectiveRadius"); // 0: a plain rectangle
        QTest::addRow("segment") << QRectF(6.3, 1.5, 17.4, 4.8) << 1.44 << 1.44;
        QTest::addRow("too tight for full smoothing") << QRectF(0, 0, 100, 20) << 8.0 << 8.0;
        QTest::addRow("radius beyond half the side: pill") << QRectF(-10, -10, 100, 20) << 500.0 << 10.0;
        QTest::addRow("not-a-number radius") << QRectF(0, 0, 10, 5) << std::numeric_limits<qreal>::quiet_NaN() << 0.0;
    }

    // The outline fills its rectangle, meets the circle of its radius on each corner's diagonal,
    // takes a little more off each corner than a circular arc would, and its flattened polygon
    // covers the same area.
    void outline()
    {
        QFETCH(QRectF, rect);
        QFETCH(qreal, radius);
        QFETCH(qreal, effectiveRadius);
        const QPainterPath path = continuousRoundedRect(rect, radius);
        const QPolygonF polygon = continuousRoundedPolygon(rect, radius, 2);
        QCOMPARE(path.boundingRect(), rect);
        QVERIFY(QLineF(polygon.boundingRect().bottomRight(), rect.bottomRight()).length() < 1e-6);

        const qreal e = 0.02 * std::max(effectiveRadius, 1.0);
        const qreal diagonal = (std::numbers::sqrt2 - 1) * effectiveRadius / std::numbers::sqrt2;
        for (const QPointF corner : {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()}) {
            const QPointF inward(corner.x() < rect.center().x() ? 1 : -1, corner.y() < rect.center().y() ? 1 : -1);
            QCOMPARE(path.contains(corner + e * inward), effectiveRadius == 0);
            QVERIFY(path.contains(corner + (diagonal + e) * inward));
            if (effectiveRadius > 0)
                QVERIFY(!path.contains(corner + (diagonal - e) * inward));
        }
        const auto area = [](const QPolygonF &p) {
            qreal twice = 0;
            for (qsizetype i = 0; i + 1 < p.size(); ++i)
                twice += p[i].x() * p[i + 1].y() - p[i + 1].x() * p[i].y();
            return std::abs(twice) / 2;
        };
        const qreal pathArea = area(path.toFillPolygon(QTransform::fromScale(16, 16))) / 256;
        const qreal cornerCut = (rect.width() * rect.height() - pathArea) / 4;
        const qreal circularCut = (1 - std::numbers::pi / 4) * effectiveRadius * effectiveRadius;
        QVERIFY(cornerCut >= circularCut * 0.999 - 1e-9 && cornerCut <= 1.6 * circularCut + 1e-9);
        QVERIFY(qAbs(area(polygon) - pathArea) < 0.002 * pathArea);
    }

    void noAreaNoOutline()
    {
        QVERIFY(continuousRoundedRect(QRectF(0, 0, 0, 5), 2).isEmpty());
        QVERIFY(continuousRoundedPolygon(QRectF(0, 0, -10, 5), 2, 2).isEmpty());
    }
};

QTEST_MAIN(TestRoundedShape)
#include "tst_roundedshape.moc"
