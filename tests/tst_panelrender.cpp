#include "palette.h"
#include "panelcontent.h"
#include "panellayout.h"
#include "panelpainter.h"

#include <QImage>
#include <QTest>

namespace {

// Eight eights, a full context (the small display shows 100) and two sessions.
PanelContent sessionState(qint64 tokens = 88888888)
{
    PanelInputs inputs;
    inputs.sessionStats.lastContextTokens = tokens;
    inputs.sessionStats.contextWindowSize = tokens;
    inputs.activeSessions.resize(2);
    return computePanelContent(inputs);
}

// Dashes on the main display, nothing on the small one; or, with a report an hour old, a dimmed figure.
PanelContent planState(bool staleReport = false)
{
    PanelInputs inputs;
    inputs.state = {DisplayMode::plan, !staleReport};
    inputs.now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    if (staleReport)
        inputs.planUsage = PlanUsage{42, {}, {}, {}, {}, inputs.now.addSecs(-3600)};
    else
        inputs.lastError = QStringLiteral("HTTP 500");
    return computePanelContent(inputs);
}

bool near(const QColor &actual, const QColor &expected, int tolerance = 12)
{
    return qAbs(actual.red() - expected.red()) <= tolerance && qAbs(actual.green() - expected.green()) <= tolerance
        && qAbs(actual.blue() - expected.blue()) <= tolerance && qAbs(actual.alpha() - expected.alpha()) <= tolerance;
}

// Pixels of full segment red inside a rectangle of the design space.
int litPixels(const QImage &image, const QRectF &design)
{
    const qreal dpr = image.devicePixelRatio();
    const QRect device = QRectF(design.topLeft() * dpr, design.size() * dpr).toAlignedRect();
    int count = 0;
    for (int y = device.top(); y <= device.bottom(); ++y)
        for (int x = device.left(); x <= device.right(); ++x)
            count += near(image.pixelColor(x, y), Palette::ledRed);
    return count;
}

} // namespace

class TestPanelRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_layout = PanelLayout::compute(PanelFonts::system()); }
    void geometry_data();
    void geometry();
    void elements_data();
    void elements();
    void cachedLayers();

private:
    PanelLayout m_layout;
};

void TestPanelRender::geometry_data()
{
    QTest::addColumn<qreal>("fontScale");
    for (qreal scale : {0.8, 1.0, 1.3})
        QTest::addRow("fonts at %g", scale) << scale;
}

// Whatever the font metrics: every element stays on the panel, no two overlap, and the
// pointer finds each explained element at its centre.
void TestPanelRender::geometry()
{
    QFETCH(qreal, fontScale);
    PanelFonts fonts = PanelFonts::system();
    for (QFont *font : {&fonts.ledLegend, &fonts.sessionCaption, &fonts.planCaption, &fonts.modeKey, &fonts.opKey,
                        &fonts.nameplate, &fonts.suffix, &fonts.smallCaption, &fonts.projectName})
        font->setPixelSize(qMax(1, qRound(font->pixelSize() * fontScale)));
    const PanelLayout layout = PanelLayout::compute(fonts);

    QList<QRectF> elements{layout.mainWindow, layout.planCaptionLine, layout.projectName, layout.nameplate,
                           layout.smallWindow, layout.smallCaption};
    for (int i = 0; i < ledCount; ++i)
        elements << layout.leds[i].item;
    for (int i = 0; i < keyCount; ++i)
        elements << layout.keys[i].cap;
    for (qsizetype i = 0; i < elements.size(); ++i) {
        QVERIFY(layout.panel.contains(elements[i]));
        for (qsizetype j = i + 1; j < elements.size(); ++j)
            QVERIFY2(!elements[i].intersects(elements[j]), qPrintable(QStringLiteral("%1 and %2").arg(i).arg(j)));
    }
    QVERIFY(layout.smallWindow.contains(layout.smallStrip.united(layout.suffix)));

    for (int area = 0; area <= int(PanelArea::op); ++area)
        QCOMPARE(layout.areaAt(layout.areaRect(PanelArea(area)).center()), std::optional(PanelArea(area)));
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

// Corners stay clear, every lamp and key shows its state, and the strips light up only where
// the content has a figure.
void TestPanelRender::elements()
{
    QFETCH(qreal, dpr);
    QFETCH(bool, plan);
    PanelPaintCache cache;
    const PanelContent content = plan ? planState() : sessionState();
    const QImage image = renderPanel(m_layout, content, dpr, cache);
    const auto pixelAt = [&](QPointF p) { return image.pixelColor(int(p.x() * dpr), int(p.y() * dpr)); };

    for (QPointF corner : {QPointF(0, 0), QPointF(649.5, 0), QPointF(0, 184.5), QPointF(649.5, 184.5)})
        QVERIFY(near(pixelAt(corner), QColor(0, 0, 0, 0)));
    for (int i = 0; i < ledCount; ++i)
        QVERIFY(near(pixelAt(m_layout.leds[i].lamp.center()), content.leds[i] ? Palette::ledRed : Palette::ledDim));
    for (int i = 0; i < keyCount; ++i) // beside the legend, inside the rim
        QVERIFY(near(pixelAt(m_layout.keys[i].cap.center() - QPointF(m_layout.keys[i].cap.width() / 2 - 4, 0)),
                     content.keys[i] ? Palette::ledRed : Palette::grey(0.18f)));
    const int mainLit = litPixels(image, m_layout.mainStrip(8));
    QVERIFY(plan ? mainLit * 4 < litPixels(renderPanel(m_layout, sessionState(), dpr, cache), m_layout.mainStrip(8))
                 : mainLit > 0);
    QCOMPARE(litPixels(image, m_layout.smallStrip) > 0, !plan);
}

// Layers are reused on an idle repaint, never across a move between a 1x and a 2x screen, and
// stay bounded while figures change; a stale figure is dimmed without a layer of its own.
void TestPanelRender::cachedLayers()
{
    for (const PanelContent &content : {sessionState(), planState(), planState(true)}) {
        PanelPaintCache shared, fresh;
        renderPanel(m_layout, content, 1, shared);
        QCOMPARE(renderPanel(m_layout, content, 2, shared), renderPanel(m_layout, content, 2, fresh));
    }
    PanelPaintCache cache;
    QCOMPARE(litPixels(renderPanel(m_layout, planState(true), 2, cache), m_layout.smallStrip), 0);

    const QImage first = renderPanel(m_layout, sessionState(), 2, cache);
    const qint64 misses = cache.misses();
    QCOMPARE(renderPanel(m_layout, sessionState(), 2, cache), first);
    QCOMPARE(cache.misses(), misses);
    renderPanel(m_layout, sessionState(1234), 2, cache); // only the main strip is new
    QCOMPARE(cache.misses(), misses + 1);
    for (int value = 0; value < 2 * PanelPaintCache::maxEntries; ++value)
        renderPanel(m_layout, sessionState(value), 1, cache);
    QVERIFY(cache.size() <= PanelPaintCache::maxEntries);
}

QTEST_MAIN(TestPanelRender)
#include "tst_panelrender.moc"
