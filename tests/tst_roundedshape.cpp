#include "roundedshape.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

qreal polygonArea(const QPolygonF &polygon)
{
    qreal twice = 0;
    for (qsizetype i = 0; i + 1 < polygon.size(); ++i)
        twice += polygon[i].x() * polygon[i + 1].y() - polygon[i + 1].x() * polygon[i].y();
    return std::abs(twice) / 2;
}

bool sameRect(const QRectF &a, const QRectF &b)
{
    const qreal tolerance = 1e-6;
    return qAbs(a.left() - b.left()) < tolerance && qAbs(a.top() - b.top()) < tolerance
        && qAbs(a.right() - b.right()) < tolerance && qAbs(a.bottom() - b.bottom()) < tolerance;
}

} // namespace

class TestRoundedShape : public QObject
{
    Q_OBJECT

private slots:
    void outline_data()
    {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<qreal>("radius");
        QTest::addColumn<qreal>("effectiveRadius");
        QTest::addRow("segment") << QRectF(6.3, 1.5, 17.4, 4.8) << 1.44 << 1.44;
        QTest::addRow("panel") << QRectF(0, 0, 650, 185) << 10.0 << 10.0;
        QTest::addRow("key") << QRectF(3, 4, 30, 20) << 3.0 << 3.0;
        QTest::addRow("radius too large for full smoothing") << QRectF(0, 0, 100, 20) << 8.0 << 8.0;
        QTest::addRow("pill") << QRectF(-10, -10, 100, 20) << 10.0 << 10.0;
        QTest::addRow("radius beyond half the side") << QRectF(0, 0, 100, 20) << 500.0 << 10.0;
    }

    // The outline fills its rectangle up to the corners, meets the circle of its radius on each
    // corner's diagonal, is symmetric, and its flattened polygon matches it.
    void outline()
    {
        QFETCH(QRectF, rect);
        QFETCH(qreal, radius);
        QFETCH(qreal, effectiveRadius);
        const QPainterPath path = continuousRoundedRect(rect, radius);
        QVERIFY(sameRect(path.boundingRect(), rect));
        QVERIFY(path.contains(rect.center()));

        const qreal e = 0.02 * effectiveRadius;
        const QPointF centre = rect.center();
        const QPointF corners[] = {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()};
        for (const QPointF corner : corners) {
            const QPointF inward((centre.x() > corner.x()) ? 1 : -1, (centre.y() > corner.y()) ? 1 : -1);
            QVERIFY(!path.contains(corner + e * inward));
            // On the diagonal the outline lies on the corner circle: (sqrt 2 - 1) r from the corner.
            const qreal diagonal = (std::sqrt(2.0) - 1) * effectiveRadius;
            QVERIFY(!path.contains(corner + (diagonal - e) / std::sqrt(2.0) * inward));
            QVERIFY(path.contains(corner + (diagonal + e) / std::sqrt(2.0) * inward));
            // Mid-edge points just inside are filled: the edges stay straight between corners.
            QVERIFY(path.contains(QPointF(centre.x(), corner.y() + e * inward.y())));
            QVERIFY(path.contains(QPointF(corner.x() + e * inward.x(), centre.y())));
        }
        // Every corner is the same shape turned: the outline is its own mirror image both ways.
        const QPolygonF polygon = continuousRoundedPolygon(rect, radius, 2);
        const auto hasVertex = [&](QPointF p) {
            return std::any_of(polygon.begin(), polygon.end(),
                               [&](QPointF v) { return QLineF(v, p).length() < 1e-9 * rect.width(); });
        };
        for (const QPointF v : polygon) {
            QVERIFY(hasVertex({2 * centre.x() - v.x(), v.y()}));
            QVERIFY(hasVertex({v.x(), 2 * centre.y() - v.y()}));
        }

        // The smoothed corner takes a little more off than a circular one, never much more.
        const qreal pathArea = polygonArea(path.toFillPolygon(QTransform::fromScale(16, 16))) / 256;
        const qreal cut = (rect.width() * rect.height() - pathArea) / 4;
        const qreal circularCut = (1 - std::numbers::pi / 4) * effectiveRadius * effectiveRadius;
        QVERIFY2(cut >= circularCut * 0.999 && cut < 1.6 * circularCut, qPrintable(QString::number(cut / circularCut)));

        QVERIFY(sameRect(polygon.boundingRect(), rect));
        QVERIFY(polygon.isClosed());
        QVERIFY(qAbs(polygonArea(polygon) - pathArea) < 0.002 * pathArea);
    }

    void degenerate_data()
    {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<qreal>("radius");
        QTest::addColumn<bool>("plainRect");
        QTest::addRow("zero radius") << QRectF(0, 0, 10, 5) << 0.0 << true;
        QTest::addRow("negative radius") << QRectF(0, 0, 10, 5) << -3.0 << true;
        QTest::addRow("not-a-number radius") << QRectF(0, 0, 10, 5) << std::numeric_limits<qreal>::quiet_NaN() << true;
        QTest::addRow("empty rect") << QRectF(0, 0, 0, 5) << 2.0 << false;
        QTest::addRow("negative width") << QRectF(0, 0, -10, 5) << 2.0 << false;
    }

    // No radius gives the plain rectangle, no area gives no outline.
    void degenerate()
    {
        QFETCH(QRectF, rect);
        QFETCH(qreal, radius);
        QFETCH(bool, plainRect);
        const QPainterPath path = continuousRoundedRect(rect, radius);
        const QPolygonF polygon = continuousRoundedPolygon(rect, radius, 2);
        if (!plainRect) {
            QVERIFY(path.isEmpty());
            QVERIFY(polygon.isEmpty());
            return;
        }
        QVERIFY(sameRect(path.boundingRect(), rect));
        QVERIFY(path.contains(rect.topLeft() + QPointF(0.01, 0.01)));
        QVERIFY(qAbs(polygonArea(polygon) - rect.width() * rect.height()) < 1e-9);
    }
};

QTEST_MAIN(TestRoundedShape)
#include "tst_roundedshape.moc"
