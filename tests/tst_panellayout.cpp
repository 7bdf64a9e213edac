#include "panellayout.h"

#include <QGuiApplication>
#include <QTest>

class TestPanelLayout : public QObject
{
    Q_OBJECT

private slots:
    void geometry_data();
    void geometry();
};

void TestPanelLayout::geometry_data()
{
    QTest::addColumn<qreal>("fontScale");
    QTest::addRow("smaller fonts") << 0.8;
    QTest::addRow("system fonts") << 1.0;
    QTest::addRow("larger fonts") << 1.3;
}

// Whatever the font metrics: every element stays on the panel, no two overlap, and the
// pointer finds each clickable or explained element at its centre.
void TestPanelLayout::geometry()
{
    QFETCH(qreal, fontScale);
    PanelFonts fonts = PanelFonts::system();
    for (QFont *font : {&fonts.ledLegend, &fonts.sessionCaption, &fonts.planCaption, &fonts.modeKey, &fonts.opKey,
                        &fonts.nameplate, &fonts.suffix, &fonts.smallCaption, &fonts.projectName})
        font->setPixelSize(qMax(1, qRound(font->pixelSize() * fontScale)));
    const PanelLayout layout = PanelLayout::compute(fonts);

    QList<QRectF> elements{layout.mainWindow, layout.planCaptionLine, layout.projectName, layout.nameplate,
                           layout.smallWindow, layout.smallCaption};
    for (const LedGeometry &led : layout.leds)
        elements << led.item;
    for (const KeyGeometry &key : layout.keys)
        elements << key.cap;
    for (qsizetype i = 0; i < elements.size(); ++i) {
        QVERIFY2(layout.panel.contains(elements[i]), qPrintable(QString::number(i)));
        for (qsizetype j = i + 1; j < elements.size(); ++j)
            QVERIFY2(!elements[i].intersects(elements[j]), qPrintable(QStringLiteral("%1 and %2").arg(i).arg(j)));
    }
    QVERIFY(layout.smallWindow.contains(layout.smallStrip.united(layout.suffix)));
    QVERIFY(layout.mainWindow.contains(layout.mainStrip(PanelLayout::mainDigits)));

    for (int area = 0; area <= int(PanelArea::op); ++area)
        QCOMPARE(layout.areaAt(layout.areaRect(PanelArea(area)).center()), std::optional(PanelArea(area)));
    const std::pair<QRectF, PanelClick> clicks[] = {
        {layout.key(Key::k1).cap, PanelClick::k1},           {layout.key(Key::k2).cap, PanelClick::k2},
        {layout.key(Key::op).cap, PanelClick::op},           {layout.led(Led::fiveHour).legend, PanelClick::fiveHour},
        {layout.led(Led::sevenDay).lamp, PanelClick::sevenDay}};
    for (const auto &[rect, click] : clicks)
        QCOMPARE(layout.hit(rect.center()), std::optional(click));
    for (QPointF nowhere : {layout.led(Led::quotas).item.center(), layout.mainWindow.center(), layout.projectName.center()})
        QCOMPARE(layout.hit(nowhere), std::nullopt);
}

QTEST_MAIN(TestPanelLayout)
#include "tst_panellayout.moc"
