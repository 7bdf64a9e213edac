#include "palette.h"
#include "panelcontent.h"
#include "panellayout.h"
#include "panelpainter.h"

#include <QFontMetricsF>
#include <QImage>
#include <QTest>

#include <cmath>

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
        inputs.planUsage = PlanUsage{42, {}, {}, {}, {}, inputs.now.addSecs(-3600), {}};
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

// WCAG 2 relative luminance and contrast ratio; a translucent ink is first laid over its ground.
double luminance(const QColor &color)
{
    const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

double contrast(const QColor &ink, const QColor &ground)
{
    const float a = ink.alphaF();
    const QColor laid = QColor::fromRgbF(ink.redF() * a + ground.redF() * (1 - a), ink.greenF() * a + ground.greenF() * (1 - a),
                                         ink.blueF() * a + ground.blueF() * (1 - a));
    const double l1 = luminance(laid), l2 = luminance(ground);
    return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}

// Where a text drawn centred in a box actually lies.
QRectF centredText(const QFont &font, const QRectF &box, const QString &text)
{
    return QFontMetricsF(font).boundingRect(box, Qt::AlignCenter, text);
}

} // namespace

Q_DECLARE_METATYPE(Palette::Lettering)

class TestPanelRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_layout = PanelLayout::compute(PanelFonts::system()); }
    void geometry_data()
    {
        QTest::addColumn<qreal>("fontScale");
        for (qreal scale : {0.8, 1.0, 1.3})
            QTest::addRow("fonts at %g", scale) << scale;
    }
    // Whatever the font metrics: every element stays on the panel, no two overlap, and the
    // pointer finds each explained element at its centre.
    void geometry()
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

        for (int area = 0; area <= int(PanelArea::project); ++area)
            QCOMPARE(layout.areaAt(layout.areaRect(PanelArea(area)).center()), std::optional(PanelArea(area)));
    }

    // Every lettering reaches its contrast at ratio 1 against what lies behind it, and lies on it.
    void contrast_data()
    {
        using L = Palette::Lettering;
        QTest::addColumn<L>("lettering");
        QTest::addColumn<QList<QRectF>>("texts");
        QTest::addColumn<QRectF>("ground");
        QTest::addColumn<double>("minimum");
        const PanelLayout &l = m_layout;
        QList<QRectF> legends;
        for (const LedGeometry &led : l.leds)
            legends << led.legend;
        const QList<QRectF> planCaptions(l.planCaptions.cbegin(), l.planCaptions.cend());
        const auto keyText = [&](Key key) {
            return centredText(key == Key::op ? l.fonts.opKey : l.fonts.modeKey, l.key(key).cap, keyLabel(key));
        };
        const QList<QRectF> keys{keyText(Key::k1), keyText(Key::k2), keyText(Key::op)};
        const QRectF keysGround = l.key(Key::k1).cap.united(l.key(Key::k2).cap).united(l.key(Key::op).cap);

        QTest::addRow("LED legends, lit") << L::ledLegendLit << legends << l.ledPlate << 4.5;
        QTest::addRow("LED legends, unlit") << L::ledLegendUnlit << legends << l.ledPlate << 3.0;
        QTest::addRow("session caption") << L::caption
            << QList{centredText(l.fonts.sessionCaption, l.sessionCaption, u"CONTEXT WINDOW TOKENS - MESSAGES \u00D71000"_qs)}
            << l.captionPlate << 4.5;
        QTest::addRow("plan captions") << L::caption << planCaptions << l.captionPlate << 4.5;
        QTest::addRow("small caption") << L::smallCaption
            << QList{centredText(l.fonts.smallCaption, l.smallCaption, u"7-DAY \u00B7 OPUS"_qs),
                     centredText(l.fonts.smallCaption, l.smallCaption, u"CONTEXT  WIN %"_qs)}
            << l.smallCaptionPlate << 4.5;
        QTest::addRow("keys, lit") << L::keyLit << keys << keysGround << 4.5;
        QTest::addRow("keys, unlit") << L::keyUnlit << keys << keysGround << 4.5;
        QTest::addRow("project name") << L::projectName << QList{l.projectName} << l.projectName << 4.5;
        QTest::addRow("nameplate") << L::nameplate << QList{centredText(l.fonts.nameplate, l.nameplate, u"GLIMMEROX"_qs)}
                                   << l.rightSection << 4.5;
        QTest::addRow("per cent sign") << L::suffix << QList{l.suffix} << l.smallWindow << 4.5;
    }
    void contrast()
    {
        QFETCH(Palette::Lettering, lettering);
        QFETCH(QList<QRectF>, texts);
        QFETCH(QRectF, ground);
        QFETCH(double, minimum);
        const Palette::Ink ink = Palette::ink(lettering);
        const double ratio = ::contrast(ink.ink, ink.ground);
        QVERIFY2(ratio >= minimum, qPrintable(QString::number(ratio, 'f', 2)));
        for (const QRectF &text : texts)
            QVERIFY2(ground.contains(text), qPrintable(u"%1,%2 %3x%4"_qs.arg(text.x()).arg(text.y()).arg(text.width()).arg(text.height())));
    }

    void elements_data()
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
    void elements()
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
                         content.keys[i] ? Palette::ledRed : Palette::keyCap));
        // Lettering lies on plates of the colour its contrast was worked out against.
        const qreal ledGap = (m_layout.led(Led::cache).item.right() + m_layout.led(Led::error).item.left()) / 2;
        for (const QPointF blank : {QPointF(ledGap, m_layout.ledPlate.center().y()),
                                    QPointF(m_layout.captionPlate.left() + 3, m_layout.captionPlate.center().y()),
                                    QPointF(m_layout.smallCaptionPlate.left() + 3, m_layout.smallCaptionPlate.center().y())})
            QVERIFY(near(pixelAt(blank), Palette::plate));
        const int mainLit = litPixels(image, m_layout.mainStrip(8));
        QVERIFY(plan ? mainLit * 4 < litPixels(renderPanel(m_layout, sessionState(), dpr, cache), m_layout.mainStrip(8))
                     : mainLit > 0);
        QCOMPARE(litPixels(image, m_layout.smallStrip) > 0, !plan);
    }

    // A long model name in the small caption stays on its plate: the metal beside it is bare.
    void longSmallCaption()
    {
        const PanelContent shortCaption = planState(true);
        PanelContent longCaption = shortCaption;
        longCaption.smallCaption = u"7-DAY \u00B7 CLAUDE OPUS 4.6 WITH THE EXTENDED THINKING PREVIEW"_qs;
        PanelPaintCache cache;
        for (qreal dpr : {1.0, 2.0}) {
            const QImage bare = renderPanel(m_layout, shortCaption, dpr, cache);
            const QImage image = renderPanel(m_layout, longCaption, dpr, cache);
            const QRectF plate = m_layout.smallCaptionPlate;
            for (qreal x : {m_layout.rightSection.left() + 2, plate.left() - 2, plate.right() + 2, m_layout.panel.right() - 3}) {
                const QPoint p(int(x * dpr), int(plate.center().y() * dpr));
                QCOMPARE(image.pixelColor(p), bare.pixelColor(p));
            }
        }
    }

    // Layers are reused on an idle repaint, never across a move between a 1x and a 2x screen, and
    // stay bounded while figures change; a stale figure is dimmed without a layer of its own.
    void cachedLayers()
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

private:
    PanelLayout m_layout;
};

QTEST_MAIN(TestPanelRender)
#include "tst_panelrender.moc"
