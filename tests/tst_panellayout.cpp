#include "panellayout.h"

#include <QGuiApplication>
#include <QTest>

namespace {

// Fonts of very different metrics must all give the same fixed geometry.
PanelFonts scaledFonts(qreal factor)
{
    PanelFonts fonts = PanelFonts::system();
    for (QFont *font : {&fonts.ledLegend, &fonts.sessionCaption, &fonts.planCaption, &fonts.modeKey, &fonts.opKey,
                        &fonts.nameplate, &fonts.suffix, &fonts.smallCaption})
        font->setPixelSize(qMax(1, qRound(font->pixelSize() * factor)));
    return fonts;
}

bool fuzzyEqual(qreal a, qreal b)
{
    return qAbs(a - b) < 1e-6;
}

} // namespace

class TestPanelLayout : public QObject
{
    Q_OBJECT

private slots:
    void fixedGeometry_data();
    void fixedGeometry();
    void ledRow();
    void stripsAndCaptions();
    void rightSectionStack();
    void hits_data();
    void hits();
};

void TestPanelLayout::fixedGeometry_data()
{
    QTest::addColumn<qreal>("fontScale");
    QTest::addRow("system fonts") << 1.0;
    QTest::addRow("smaller fonts") << 0.8;
    QTest::addRow("larger fonts") << 1.2;
}

void TestPanelLayout::fixedGeometry()
{
    QFETCH(qreal, fontScale);
    const PanelLayout layout = PanelLayout::compute(scaledFonts(fontScale));

    QCOMPARE(layout.panel, QRectF(0, 0, 650, 185));
    QCOMPARE(layout.leftSection, QRectF(0, 0, 462, 185));
    QCOMPARE(layout.divider, QRectF(462, 0, 3, 185));
    QCOMPARE(layout.rightSection, QRectF(465, 0, 185, 185));

    QCOMPARE(layout.mainWindow.x(), 14.0);
    QCOMPARE(layout.mainWindow.size(), QSizeF(434, 82));
    QCOMPARE(layout.ledRow.top(), 10.0);
    QCOMPARE(layout.mainWindow.top(), layout.ledRow.bottom() + 6);
    QCOMPARE(layout.smallWindow.size(), QSizeF(161, 64));
    QCOMPARE(layout.smallWindow.x(), 477.0);

    QCOMPARE(layout.key(Key::k1).cap, QRectF(14, 155, 30, 20));
    QCOMPARE(layout.key(Key::k2).cap, QRectF(52, 155, 30, 20));
    QCOMPARE(layout.key(Key::op).cap, QRectF(539.5, 153, 36, 22));

    // Top to bottom on the left: LED row, window, caption, then the keys, without overlap.
    QVERIFY(layout.sessionCaption.top() >= layout.mainWindow.bottom());
    QVERIFY(layout.planCaptionLine.bottom() <= layout.key(Key::k1).cap.top());
    QVERIFY(layout.sessionCaption.bottom() <= layout.key(Key::k1).cap.top());
}

void TestPanelLayout::ledRow()
{
    const PanelLayout layout = PanelLayout::compute(PanelFonts::system());
    for (int i = 0; i < ledCount; ++i) {
        const LedGeometry &led = layout.leds[i];
        QCOMPARE(led.lamp.size(), QSizeF(5, 5));
        QVERIFY(fuzzyEqual(led.lamp.center().y(), layout.ledRow.center().y()));
        QVERIFY(fuzzyEqual(led.legend.left(), led.lamp.right() + 3));
        QVERIFY(layout.ledRow.contains(led.item));
        if (i > 0)
            QVERIFY(led.item.left() >= layout.leds[i - 1].item.right() + 10 - 1e-6);
    }
    QCOMPARE(layout.led(Led::quotas).item.left(), 14.0);
    QVERIFY(fuzzyEqual(layout.led(Led::sevenDay).item.right(), 448));
    QVERIFY(fuzzyEqual(layout.led(Led::session).item.left(), layout.led(Led::quotas).item.right() + 10));
    QVERIFY(fuzzyEqual(layout.led(Led::sevenDay).item.left(), layout.led(Led::fiveHour).item.right() + 10));

    // "ERROR" sits midway between the left group and the LED keys.
    const qreal gapBefore = layout.led(Led::error).item.left() - layout.led(Led::active).item.right();
    const qreal gapAfter = layout.led(Led::fiveHour).item.left() - layout.led(Led::error).item.right();
    QVERIFY(gapBefore > 10);
    QVERIFY(fuzzyEqual(gapBefore, gapAfter));
}

void TestPanelLayout::stripsAndCaptions()
{
    const PanelLayout layout = PanelLayout::compute(PanelFonts::system());
    const QRectF eight = layout.mainStrip(8);
    QCOMPARE(eight.size(), QSizeF(268, 60));
    QCOMPARE(eight.center(), layout.mainWindow.center());
    QCOMPARE(eight.topLeft(), QPointF(97, layout.mainWindow.top() + 11));

    // The seven-character placeholder is narrower but still centred.
    const QRectF seven = layout.mainStrip(7);
    QCOMPARE(seven.size(), QSizeF(234, 60));
    QCOMPARE(seven.center(), layout.mainWindow.center());

    // Each caption spans its digit pair (cells 0-1, 3-4, 6-7) of the countdown.
    for (int pair = 0; pair < 3; ++pair) {
        const QRectF caption = layout.planCaptions[pair];
        const qreal firstCell = eight.left() + 3 * pair * 34;
        QCOMPARE(caption.width(), 64.0);
        QCOMPARE(caption.left(), firstCell);
        QCOMPARE(caption.top(), layout.mainWindow.bottom() + 4);
    }
    QCOMPARE(layout.sessionCaption.width(), 462.0);
}

void TestPanelLayout::rightSectionStack()
{
    const PanelLayout layout = PanelLayout::compute(PanelFonts::system());
    QCOMPARE(layout.nameplate.top(), 10.0);
    QCOMPARE(layout.nameplate.center().x(), layout.rightSection.center().x());

    // The small window and its caption sit midway between nameplate and key.
    const qreal gapAbove = layout.smallWindow.top() - layout.nameplate.bottom();
    const qreal gapBelow = layout.key(Key::op).cap.top() - layout.smallCaption.bottom();
    QVERIFY(gapAbove > 0);
    QVERIFY(fuzzyEqual(gapAbove, gapBelow));
    QCOMPARE(layout.smallCaption.top(), layout.smallWindow.bottom() + 4);

    // Digits and "%" form one row centred in the window, the digits at their fixed size.
    QCOMPARE(layout.smallStrip.size(), QSizeF(78, 46));
    QCOMPARE(layout.smallStrip.center().y(), layout.smallWindow.center().y());
    QVERIFY(fuzzyEqual(layout.suffix.left(), layout.smallStrip.right() + 2));
    QVERIFY(fuzzyEqual(layout.smallStrip.left() - layout.smallWindow.left(),
                       layout.smallWindow.right() - layout.suffix.right()));
    QVERIFY(layout.smallWindow.contains(layout.suffix));
}

void TestPanelLayout::hits_data()
{
    const PanelLayout layout = PanelLayout::compute(PanelFonts::system());
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<int>("click"); // -1: nothing

    QTest::addRow("K1") << layout.key(Key::k1).cap.center() << int(PanelClick::k1);
    QTest::addRow("OP") << layout.key(Key::op).cap.center() << int(PanelClick::op);
    QTest::addRow("5-HOUR legend") << layout.led(Led::fiveHour).legend.center() << int(PanelClick::fiveHour);
    QTest::addRow("QUOTAS is only an indicator") << layout.led(Led::quotas).item.center() << -1;
    QTest::addRow("between the keys") << QPointF(48, 165) << -1;
    QTest::addRow("main window") << layout.mainWindow.center() << -1;
}

void TestPanelLayout::hits()
{
    QFETCH(QPointF, point);
    QFETCH(int, click);
    const std::optional<PanelClick> hit = PanelLayout::compute(PanelFonts::system()).hit(point);
    QCOMPARE(hit ? int(*hit) : -1, click);
}

QTEST_MAIN(TestPanelLayout)
#include "tst_panellayout.moc"
