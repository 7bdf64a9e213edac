#include "palette.h"
#include "panelcontent.h"
#include "panellayout.h"
#include "panelpainter.h"

#include <QImage>
#include <QTest>

namespace {

// Two states that between them light and darken every kind of element.
PanelContent sessionState()
{
    // 88888888 lights every segment of the main strip; "100" lights the small strip's last zero.
    return computePanelContent({{DisplayMode::session, false}, {0, 88888888, 0, 88888888}, 2, {}, false, false, {}});
}

PanelContent planErrorState()
{
    // "-- -- --" lights the middle segment of the first cell; "---" leaves the small strip unlit.
    return computePanelContent({{DisplayMode::plan, true}, {}, 2, {}, false, true, {}});
}

QColor pixelAt(const QImage &image, QPointF designPoint)
{
    const qreal dpr = image.devicePixelRatio();
    return image.pixelColor(int(designPoint.x() * dpr), int(designPoint.y() * dpr));
}

bool near(const QColor &actual, const QColor &expected, int tolerance = 10)
{
    return qAbs(actual.red() - expected.red()) <= tolerance && qAbs(actual.green() - expected.green()) <= tolerance
        && qAbs(actual.blue() - expected.blue()) <= tolerance && qAbs(actual.alpha() - expected.alpha()) <= tolerance;
}

QString describe(const QColor &color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alpha());
}

#define CHECK_COLOUR(image, point, expected)                                                                        \
    do {                                                                                                            \
        const QColor actual_ = pixelAt(image, point);                                                               \
        QVERIFY2(near(actual_, expected), qPrintable(describe(actual_) + " expected " + describe(expected)));       \
    } while (false)

// Centre of segment index of the cell at column in a strip of the given cell size and spacing.
QPointF segmentCentre(const QRectF &strip, int column, int index, qreal width, qreal height, qreal spacing)
{
    const qreal t = 0.16 * width;
    const qreal g = 1.5;
    const qreal v = height / 2 - t - 2.5 * g;
    const qreal left = strip.left() + column * (width + spacing);
    switch (index) {
    case 0: return {left + width / 2, strip.top() + g + t / 2};
    case 4: return {left + g + t / 2, strip.top() + height / 2 + 1.5 * g + v / 2};
    case 6: return {left + width / 2, strip.top() + height / 2};
    }
    return {};
}

} // namespace

class TestPanelRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void elements_data();
    void elements();
    void idleRepaintReusesTheBlurs();

private:
    PanelLayout m_layout;
};

void TestPanelRender::initTestCase()
{
    m_layout = PanelLayout::compute(PanelFonts::system());
}

void TestPanelRender::elements_data()
{
    QTest::addColumn<qreal>("dpr");
    QTest::addColumn<bool>("plan");
    for (qreal dpr : {1.0, 2.0}) {
        QTest::addRow("session at %g", dpr) << dpr << false;
        QTest::addRow("plan with error at %g", dpr) << dpr << true;
    }
}

void TestPanelRender::elements()
{
    QFETCH(qreal, dpr);
    QFETCH(bool, plan);
    PanelPaintCache cache;
    const PanelContent content = plan ? planErrorState() : sessionState();
    const QImage image = renderPanel(m_layout, content, dpr, cache);
    QCOMPARE(image.size(), QSize(qRound(650 * dpr), qRound(185 * dpr)));

    const QColor clear(0, 0, 0, 0);
    for (QPointF corner : {QPointF(0, 0), QPointF(649.5, 0), QPointF(0, 184.5), QPointF(649.5, 184.5)})
        CHECK_COLOUR(image, corner, clear);
    CHECK_COLOUR(image, QPointF(463.5, 92.5), Palette::grey(0.35f));

    for (int i = 0; i < ledCount; ++i) {
        const Led led = Led(i);
        CHECK_COLOUR(image, m_layout.led(led).lamp.center(), content.ledLit(led) ? Palette::ledRed : Palette::ledDim);
    }
    for (Key key : {Key::k1, Key::k2, Key::op}) {
        const QRectF cap = m_layout.key(key).cap;
        const QPointF beside(cap.left() + 4, cap.center().y()); // clear of the legend and the rim
        CHECK_COLOUR(image, beside, content.keyLit(key) ? Palette::ledRed : Palette::grey(0.18f));
    }

    // Main strip: the middle segment of the first cell is lit in both states, its top only in
    // the session state.
    const QRectF strip = m_layout.mainStrip(8);
    CHECK_COLOUR(image, segmentCentre(strip, 0, 6, 30, 60, 4), Palette::ledRed);
    CHECK_COLOUR(image, segmentCentre(strip, 0, 0, 30, 60, 4), plan ? Palette::ledDim : Palette::ledRed);

    // Small strip: the lower left segment of the last cell ("0" of 100, or unlit).
    CHECK_COLOUR(image, segmentCentre(m_layout.smallStrip, 2, 4, 24, 46, 3), plan ? Palette::ledDim : Palette::ledRed);
}

void TestPanelRender::idleRepaintReusesTheBlurs()
{
    PanelPaintCache cache;
    const QImage first = renderPanel(m_layout, sessionState(), 2, cache);
    const qint64 misses = cache.misses();
    QVERIFY(misses > 0);
    const QImage second = renderPanel(m_layout, sessionState(), 2, cache);
    QCOMPARE(cache.misses(), misses);
    QCOMPARE(second, first);

    // A new figure renders only its strip again; a long run of changing figures stays bounded.
    renderPanel(m_layout, computePanelContent({{}, {0, 1234, 0, 1234}, 2, {}, false, false, {}}), 2, cache);
    QCOMPARE(cache.misses(), misses + 1);
    for (int value = 0; value < 2 * PanelPaintCache::maxEntries; ++value)
        renderPanel(m_layout, computePanelContent({{}, {0, value, 0, 200000}, 1, {}, false, false, {}}), 1, cache);
    QVERIFY(cache.size() <= PanelPaintCache::maxEntries);
}

QTEST_MAIN(TestPanelRender)
#include "tst_panelrender.moc"
