#include "panelpainter.h"

#include "blur.h"
#include "instrumentparts.h"
#include "panellog.h"
#include "palette.h"
#include "roundedshape.h"
#include "segmentstrips.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

using namespace Palette;

namespace {

// Tracking adds its space after every character, the last one included; moving the text right
// by half of it centres the letters themselves in the box.
void drawCentredText(QPainter &painter, const QRectF &box, const QString &text)
{
    painter.drawText(box.translated(painter.font().letterSpacing() / 2, 0), Qt::AlignCenter, text);
}

using Draw = std::function<void(QPainter &)>;

// The device-pixel rectangle that holds bounds plus margin (design units) at ratio dpr.
QRect deviceBounds(const QRectF &bounds, qreal dpr, qreal margin)
{
    const QRectF grown = bounds.adjusted(-margin, -margin, margin, margin);
    const QRectF scaled(grown.topLeft() * dpr, grown.bottomRight() * dpr);
    const QPoint topLeft(int(std::floor(scaled.left())), int(std::floor(scaled.top())));
    const QPoint bottomRight(int(std::ceil(scaled.right())), int(std::ceil(scaled.bottom())));
    return QRect(topLeft, bottomRight - QPoint(1, 1));
}

// A transparent image covering bounds plus margin on the device grid, with draw run in design
// units. Drawn back at layerOrigin() it lands pixel for pixel where it would have been painted.
QImage paintLayer(const QRectF &bounds, qreal dpr, qreal margin, const Draw &draw)
{
    const QRect device = deviceBounds(bounds, dpr, margin);
    QImage image(device.size(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.translate(-QPointF(device.topLeft()) / dpr);
    draw(painter);
    return image;
}

QPointF layerOrigin(const QRectF &bounds, qreal dpr, qreal margin)
{
    return QPointF(deviceBounds(bounds, dpr, margin).topLeft()) / dpr;
}

// The shape drawn by draw, with its shadows (back to front as listed) behind it.
struct Shadow
{
    QColor color;
    qreal radius = 0;
};

// Room around a shape for the widest of its shadows.
qreal shadowsMargin(std::initializer_list<Shadow> shadows)
{
    qreal margin = 0;
    for (const Shadow &shadow : shadows)
        margin = std::max(margin, shadowMargin(shadow.radius));
    return margin;
}

QImage glowingLayer(const QRectF &bounds, qreal dpr, std::initializer_list<Shadow> shadows, const Draw &draw)
{
    const qreal margin = shadowsMargin(shadows);
    const QImage shape = paintLayer(bounds, dpr, margin, draw);
    QImage out(shape.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(dpr);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    for (const Shadow &shadow : shadows)
        painter.drawImage(QPointF(), shadowImage(shape, shadow.color, shadow.radius));
    painter.drawImage(QPointF(), shape);
    return out;
}

QString ratioKey(qreal dpr)
{
    return QString::number(dpr, 'g', 6);
}

QString rectKey(const QRectF &rect)
{
    return QStringLiteral("%1,%2,%3,%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

// A display window sunk into the body: a soft black drop shadow, dark glass and a thin edge.
void paintWindow(QPainter &painter, const QRectF &rect, qreal radius, qreal shadowRadius, QPointF offset, qreal dpr)
{
    const QPainterPath outline = continuousRoundedRect(rect, radius);
    const qreal margin = shadowMargin(shadowRadius);
    const QImage shape = paintLayer(rect, dpr, margin, [&](QPainter &p) { p.fillPath(outline, Qt::black); });
    painter.drawImage(layerOrigin(rect, dpr, margin) + offset,
                      shadowImage(shape, withOpacity(Qt::black, 0.9f), shadowRadius));
    painter.fillPath(outline, dispBg);
    painter.strokePath(outline, QPen(grey(0.12f), 1));
}

// The parts that never change: metal body, divider groove, the two windows, nameplate and rim.
void paintStaticBody(QPainter &painter, const PanelLayout &layout, qreal dpr)
{
    const QRectF panel = layout.panel;
    const QPainterPath outline = continuousRoundedRect(panel, PanelLayout::cornerRadius);
    painter.save();
    painter.setClipPath(outline);

    paintMetal(painter, panel);

    QLinearGradient groove(layout.divider.topLeft(), layout.divider.bottomLeft());
    groove.setColorAt(0.0, grey(0.15f));
    groove.setColorAt(0.5, grey(0.35f));
    groove.setColorAt(1.0, grey(0.15f));
    painter.fillRect(layout.divider, groove);

    paintWindow(painter, layout.mainWindow, 6, 4, QPointF(2, 2), dpr);
    paintWindow(painter, layout.smallWindow, 5, 3, QPointF(1, 1), dpr);
    for (const QRectF &plateRect : {layout.ledPlate, layout.captionPlate, layout.smallCaptionPlate})
        paintPlate(painter, plateRect);

    // Engraved: a dark cut one unit below the light lettering.
    painter.setFont(layout.fonts.nameplate);
    painter.setPen(withOpacity(Qt::black, 0.5f));
    drawCentredText(painter, layout.nameplate.translated(0, 1), QStringLiteral("GLIMMEROX"));
    painter.setPen(ink(Lettering::nameplate).ink);
    drawCentredText(painter, layout.nameplate, QStringLiteral("GLIMMEROX"));
    painter.restore();

    // The rim is drawn over the outline, not clipped, so half of it lies outside.
    QLinearGradient rim(panel.topLeft(), panel.bottomLeft());
    rim.setColorAt(0.0, grey(0.5f));
    rim.setColorAt(1.0, grey(0.25f));
    painter.strokePath(outline, QPen(QBrush(rim), 1.5));
}

void paintLed(QPainter &painter, const LedGeometry &geometry, Led led, bool lit, const PanelLayout &layout,
              qreal dpr, PanelPaintCache &cache)
{
    if (lit) {
        const Shadow glow{withOpacity(ledRed, 0.8f), 3};
        const QImage image = cache.image(QStringLiteral("lamp|%1|%2").arg(rectKey(geometry.lamp), ratioKey(dpr)), [&] {
            return glowingLayer(geometry.lamp, dpr, {glow}, [&](QPainter &p) {
                p.setPen(Qt::NoPen);
                p.setBrush(ledRed);
                p.drawEllipse(geometry.lamp);
            });
        });
        painter.drawImage(layerOrigin(geometry.lamp, dpr, shadowMargin(glow.radius)), image);
    } else {
        // A faint rim keeps a dark lamp findable on its dark plate.
        painter.setPen(QPen(withOpacity(grey(0.5f), 0.4f), 0.6));
        painter.setBrush(ledDim);
        painter.drawEllipse(geometry.lamp);
    }
    painter.setFont(layout.fonts.ledLegend);
    painter.setPen(ink(lit ? Lettering::ledLegendLit : Lettering::ledLegendUnlit).ink);
    painter.drawText(geometry.legend, Qt::AlignLeft | Qt::AlignVCenter, ledLabel(led));
}

// How the two kinds of key differ.
struct KeyStyle
{
    QFont font;
    QColor rim;
    qreal rimWidth = 0;
    Shadow glow;
};

void paintKey(QPainter &painter, const KeyGeometry &geometry, Key key, bool lit, const KeyStyle &style, qreal dpr,
              PanelPaintCache &cache)
{
    const QPainterPath cap = continuousRoundedRect(geometry.cap, geometry.radius);
    if (lit) {
        const QImage image = cache.image(QStringLiteral("key|%1|%2").arg(rectKey(geometry.cap), ratioKey(dpr)), [&] {
            return glowingLayer(geometry.cap, dpr, {style.glow}, [&](QPainter &p) { p.fillPath(cap, ledRed); });
        });
        painter.drawImage(layerOrigin(geometry.cap, dpr, shadowMargin(style.glow.radius)), image);
    } else {
        painter.fillPath(cap, keyCap);
    }
    painter.strokePath(cap, QPen(style.rim, style.rimWidth));
    painter.setFont(style.font);
    painter.setPen(ink(lit ? Lettering::keyLit : Lettering::keyUnlit).ink);
    painter.drawText(geometry.cap, Qt::AlignCenter, keyLabel(key));
}

// Figures that no longer hold for certain (stale, or kept from before a failed fetch).
constexpr qreal dimmedOpacity = 0.35;

void paintMainStrip(QPainter &painter, const PanelLayout &layout, const PanelContent &content, qreal dpr,
                    PanelPaintCache &cache)
{
    const std::initializer_list<Shadow> glows{{withOpacity(ledRed, 0.25f), 14}, {withOpacity(ledRed, 0.5f), 6}};
    QRectF bounds;
    QString key;
    Draw draw;
    if (content.mainKind == MainStripKind::number) {
        const SevenSegmentDisplay strip{content.mainValue,        PanelLayout::mainDigits, PanelLayout::mainDigitWidth,
                                        PanelLayout::mainDigitHeight, PanelLayout::mainSpacing, ledRed, ledDim};
        bounds = layout.mainStrip(PanelLayout::mainDigits);
        key = QStringLiteral("main|n%1").arg(content.mainValue);
        draw = [strip, bounds](QPainter &p) { strip.paint(p, bounds.topLeft()); };
    } else {
        const SevenSegmentStringDisplay strip{content.mainText, PanelLayout::mainDigitWidth,
                                              PanelLayout::mainDigitHeight, PanelLayout::mainSpacing, ledRed, ledDim};
        bounds = layout.mainStrip(strip.cells().size());
        key = QStringLiteral("main|t%1").arg(content.mainText);
        draw = [strip, bounds](QPainter &p) { strip.paint(p, bounds.topLeft()); };
    }
    if (bounds.isEmpty())
        return;
    const QImage image = cache.image(key + QLatin1Char('|') + ratioKey(dpr),
                                     [&] { return glowingLayer(bounds, dpr, glows, draw); });
    painter.save();
    if (content.mainDimmed)
        painter.setOpacity(dimmedOpacity);
    painter.drawImage(layerOrigin(bounds, dpr, shadowsMargin(glows)), image);
    painter.restore();
}

void paintSmallDisplay(QPainter &painter, const PanelLayout &layout, const PanelContent &content, qreal dpr,
                       PanelPaintCache &cache)
{
    const SmallSegmentDisplay strip{content.smallValue, PanelLayout::smallDigitWidth, PanelLayout::smallDigitHeight,
                                    PanelLayout::smallSpacing, ledRed, ledDim};
    const QRectF bounds = layout.smallStrip;
    const std::initializer_list<Shadow> glows{{withOpacity(ledRed, 0.2f), 10}, {withOpacity(ledRed, 0.5f), 5}};
    // A stale figure is the same layer drawn faintly, so dimming adds no cache entry.
    painter.save();
    if (content.smallDimmed)
        painter.setOpacity(dimmedOpacity);
    const QImage digits = cache.image(QStringLiteral("small|%1|%2").arg(content.smallValue, ratioKey(dpr)), [&] {
        return glowingLayer(bounds, dpr, glows, [&](QPainter &p) { strip.paint(p, bounds.topLeft()); });
    });
    painter.drawImage(layerOrigin(bounds, dpr, shadowsMargin(glows)), digits);

    if (content.smallSuffix.isEmpty()) {
        painter.restore();
        return;
    }
    const QImage suffix = cache.image(QStringLiteral("suffix|%1|%2").arg(content.smallSuffix, ratioKey(dpr)), [&] {
        return glowingLayer(layout.suffix, dpr, {{withOpacity(ledRed, 0.6f), 4}}, [&](QPainter &p) {
            p.setFont(layout.fonts.suffix);
            p.setPen(ink(Lettering::suffix).ink);
            p.drawText(layout.suffix, Qt::AlignCenter, content.smallSuffix);
        });
    });
    painter.drawImage(layerOrigin(layout.suffix, dpr, shadowMargin(4)), suffix);
    painter.restore();
}

void paintCaptions(QPainter &painter, const PanelLayout &layout, const PanelContent &content)
{
    painter.setPen(ink(Lettering::caption).ink);
    if (content.planCaptions()) {
        painter.setFont(layout.fonts.planCaption);
        for (int i = 0; i < 3; ++i)
            drawCentredText(painter, layout.planCaptions[i], content.mainLabels[i]);
    } else if (!content.mainLabels.isEmpty()) {
        painter.setFont(layout.fonts.sessionCaption);
        drawCentredText(painter, layout.sessionCaption, content.mainLabels.first());
    }
    painter.setFont(layout.fonts.smallCaption);
    painter.setPen(ink(Lettering::smallCaption).ink);
    // A model's name from the report can be long: the caption ends with "…" rather than leave its plate.
    const qreal inset = 4;
    const QString smallCaption = QFontMetricsF(layout.fonts.smallCaption)
                                     .elidedText(content.smallCaption, Qt::ElideRight,
                                                 layout.smallCaptionPlate.width() - 2 * inset);
    drawCentredText(painter, layout.smallCaption, smallCaption);
}

// A drawing pin seen from the side, head up, in a box about one line high.
void paintPinMark(QPainter &painter, const QRectF &box)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(inkRed);
    const qreal unit = box.height() / 10;
    const QPointF top(box.center().x(), box.top() + unit);
    painter.drawRoundedRect(QRectF(top.x() - 2.5 * unit, top.y(), 5 * unit, 2 * unit), unit / 2, unit / 2);
    painter.drawRect(QRectF(top.x() - 1.5 * unit, top.y() + 2 * unit, 3 * unit, 3 * unit));
    painter.drawRect(QRectF(top.x() - 3.5 * unit, top.y() + 5 * unit, 7 * unit, 1.2 * unit));
    painter.setPen(QPen(inkRed, 0.8 * unit));
    painter.drawLine(QPointF(top.x(), top.y() + 6 * unit), QPointF(top.x(), box.bottom() - 0.5 * unit));
    painter.restore();
}

// The project name on a label plate of its own at the right of the key row, the pin mark in
// front of it while the session is pinned.
void paintProjectName(QPainter &painter, const PanelLayout &layout, const PanelContent &content)
{
    if (content.projectName.isEmpty())
        return;
    const QFontMetricsF metrics(layout.fonts.projectName);
    const qreal padding = 5;
    const qreal markWidth = content.projectPinned ? metrics.height() * 0.8 + 3 : 0;
    const QRectF area = layout.projectName;
    const QString text = metrics.elidedText(content.projectName, Qt::ElideMiddle,
                                            area.width() - 2 * padding - markWidth);
    const qreal textWidth = metrics.horizontalAdvance(text);
    const qreal plateHeight = metrics.height() + 4;
    const QRectF plateRect(area.right() - textWidth - markWidth - 2 * padding, area.center().y() - plateHeight / 2,
                           textWidth + markWidth + 2 * padding, plateHeight);
    paintPlate(painter, plateRect);
    if (content.projectPinned)
        paintPinMark(painter, QRectF(plateRect.left() + padding, plateRect.top() + 2, markWidth - 3, plateHeight - 4));
    painter.setFont(layout.fonts.projectName);
    painter.setPen(ink(Lettering::projectName).ink);
    painter.drawText(plateRect.adjusted(padding + markWidth, 0, -padding, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
}

} // namespace

QImage PanelPaintCache::image(const QString &key, const std::function<QImage()> &make)
{
    const auto found = m_images.constFind(key);
    if (found != m_images.cend())
        return *found;
    ++m_misses;
    if (m_images.size() >= maxEntries) {
        qCDebug(lcPanel) << "paint cache full at" << m_images.size() << "layers; starting afresh";
        m_images.clear();
    }
    const QImage made = make();
    m_images.insert(key, made);
    return made;
}

void paintPanel(QPainter &painter, const PanelLayout &layout, const PanelContent &content, PanelPaintCache &cache)
{
    Q_ASSERT(painter.isActive());
    Q_ASSERT(!content.planCaptions() || content.mainKind == MainStripKind::text);
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    const qreal dpr = deviceRatio(painter);

    const QImage body = cache.image(QStringLiteral("body|") + ratioKey(dpr), [&] {
        return paintLayer(layout.panel, dpr, 0, [&](QPainter &p) { paintStaticBody(p, layout, dpr); });
    });
    painter.drawImage(layerOrigin(layout.panel, dpr, 0), body);

    for (int i = 0; i < ledCount; ++i)
        paintLed(painter, layout.leds[i], Led(i), content.leds[i], layout, dpr, cache);

    const KeyStyle modeStyle{layout.fonts.modeKey, withOpacity(ledRed, 0.5f), 0.5, {withOpacity(ledRed, 0.4f), 4}};
    const KeyStyle opStyle{layout.fonts.opKey, withOpacity(ledRed, 0.6f), 1, {withOpacity(ledRed, 0.5f), 4}};
    for (Key key : {Key::k1, Key::k2, Key::op})
        paintKey(painter, layout.key(key), key, content.keyLit(key), key == Key::op ? opStyle : modeStyle, dpr, cache);

    paintMainStrip(painter, layout, content, dpr, cache);
    paintSmallDisplay(painter, layout, content, dpr, cache);
    paintCaptions(painter, layout, content);
    paintProjectName(painter, layout, content);
    painter.restore();
}

QImage renderPanel(const PanelLayout &layout, const PanelContent &content, qreal dpr, PanelPaintCache &cache)
{
    Q_ASSERT(dpr > 0);
    QImage image(QSize(qRound(PanelLayout::width * dpr), qRound(PanelLayout::height * dpr)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintPanel(painter, layout, content, cache);
    return image;
}
