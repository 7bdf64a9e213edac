#include "panellayout.h"

#include "segmentstrips.h"

#include <QFontDatabase>
#include <QFontMetricsF>

#include <algorithm>

namespace {

constexpr qreal dividerWidth = 3;
constexpr qreal rightWidth = 185;
constexpr qreal sidePadding = 14;

constexpr qreal lampSize = 5;
constexpr qreal lampGap = 3;
constexpr qreal ledSpacing = 10;
// How far a lettering plate reaches beyond the lettering on it.
constexpr qreal plateMargin = 2;

QSizeF textSize(const QFont &font, const QString &text)
{
    const QFontMetricsF metrics(font);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

qreal lineHeight(const QFont &font)
{
    return QFontMetricsF(font).height();
}

// A box of the given size centred on a point.
QRectF centredOn(QPointF centre, QSizeF size)
{
    return {centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height()};
}

} // namespace

QFont PanelFonts::font(int size, QFont::Weight weight, qreal tracking)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(size);
    font.setWeight(weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    font.setKerning(false);
    return font;
}

PanelFonts PanelFonts::system()
{
    PanelFonts fonts;
    // Nothing below 8 pixels: at ratio 1 smaller lettering does not survive antialiasing.
    fonts.ledLegend = font(8, QFont::Bold, 0.5);
    fonts.sessionCaption = font(9, QFont::ExtraBold, 2);
    fonts.planCaption = font(9, QFont::ExtraBold, 5);
    fonts.modeKey = font(10, QFont::ExtraBold, 0);
    fonts.opKey = font(11, QFont::ExtraBold, 0);
    fonts.nameplate = font(18, QFont::Black, 3);
    fonts.suffix = font(14, QFont::ExtraBold, 0);
    fonts.smallCaption = font(8, QFont::Bold, 1);
    fonts.projectName = font(9, QFont::Bold, 0.5);
    return fonts;
}

QRectF PanelLayout::mainStrip(qsizetype cells) const
{
    Q_ASSERT(cells >= 0);
    const QSizeF size(stripWidth(cells, mainDigitWidth, mainSpacing), cells > 0 ? mainDigitHeight : 0);
    return centredOn(mainWindow.center(), size);
}

std::optional<PanelClick> PanelLayout::hit(QPointF point) const
{
    if (key(Key::k1).cap.contains(point))
        return PanelClick::k1;
    if (key(Key::k2).cap.contains(point))
        return PanelClick::k2;
    if (key(Key::op).cap.contains(point))
        return PanelClick::op;
    if (led(Led::fiveHour).item.contains(point))
        return PanelClick::fiveHour;
    if (led(Led::sevenDay).item.contains(point))
        return PanelClick::sevenDay;
    if (led(Led::active).item.contains(point))
        return PanelClick::active;
    if (projectName.contains(point))
        return PanelClick::project;
    return std::nullopt;
}

QRectF PanelLayout::areaRect(PanelArea area) const
{
    switch (area) {
    case PanelArea::main: return mainWindow;
    case PanelArea::small: return smallWindow;
    case PanelArea::quotas: return led(Led::quotas).item;
    case PanelArea::session: return led(Led::session).item;
    case PanelArea::active: return led(Led::active).item;
    case PanelArea::cache: return led(Led::cache).item;
    case PanelArea::error: return led(Led::error).item;
    case PanelArea::fiveHour: return led(Led::fiveHour).item;
    case PanelArea::sevenDay: return led(Led::sevenDay).item;
    case PanelArea::k1: return key(Key::k1).cap;
    case PanelArea::k2: return key(Key::k2).cap;
    case PanelArea::op: return key(Key::op).cap;
    case PanelArea::project: return projectName;
    }
    return {};
}

std::optional<PanelArea> PanelLayout::areaAt(QPointF point) const
{
    for (int i = 0; i <= int(PanelArea::project); ++i) {
        if (areaRect(PanelArea(i)).contains(point))
            return PanelArea(i);
    }
    return std::nullopt;
}

PanelLayout PanelLayout::compute(const PanelFonts &fonts)
{
    PanelLayout layout;
    layout.fonts = fonts;
    layout.panel = QRectF(0, 0, width, height);
    const qreal leftWidth = width - dividerWidth - rightWidth;
    layout.leftSection = QRectF(0, 0, leftWidth, height);
    layout.divider = QRectF(leftWidth, 0, dividerWidth, height);
    layout.rightSection = QRectF(leftWidth + dividerWidth, 0, rightWidth, height);

    // Left section, top down: LED row, main window, caption line; the key row sits at the bottom.
    const qreal ledTextHeight = lineHeight(fonts.ledLegend);
    const qreal ledRowHeight = std::max(lampSize, ledTextHeight);
    layout.ledRow = QRectF(sidePadding, 9, leftWidth - 2 * sidePadding, ledRowHeight);
    layout.ledPlate = layout.ledRow.adjusted(-4, -plateMargin, 4, plateMargin);

    // The LED row: three LEDs, a flexible gap, "CACHE", a flexible gap, "ERROR", a flexible gap,
    // the two LED keys. Gaps of 10 between the items; the three flexible gaps share what is left.
    std::array<qreal, ledCount> itemWidths{};
    qreal fixedWidth = (ledCount + 2) * ledSpacing;
    for (int i = 0; i < ledCount; ++i) {
        itemWidths[i] = lampSize + lampGap + textSize(fonts.ledLegend, ledLabel(Led(i))).width();
        fixedWidth += itemWidths[i];
    }
    const qreal flexible = std::max<qreal>(0, (layout.ledRow.width() - fixedWidth) / 3);
    const qreal rowCentreY = layout.ledRow.center().y();
    qreal x = layout.ledRow.left();
    for (int i = 0; i < ledCount; ++i) {
        if (i == int(Led::cache) || i == int(Led::error) || i == int(Led::fiveHour))
            x += flexible + ledSpacing;
        LedGeometry &led = layout.leds[i];
        led.item = QRectF(x, layout.ledRow.top(), itemWidths[i], ledRowHeight);
        led.lamp = centredOn(QPointF(x + lampSize / 2, rowCentreY), QSizeF(lampSize, lampSize));
        led.legend = QRectF(x + lampSize + lampGap, rowCentreY - ledTextHeight / 2,
                            itemWidths[i] - lampSize - lampGap, ledTextHeight);
        x += itemWidths[i] + ledSpacing;
    }

    layout.mainWindow = QRectF(sidePadding, layout.ledPlate.bottom() + 5, leftWidth - 2 * sidePadding, 82);
    const qreal captionTop = layout.mainWindow.bottom() + 4 + plateMargin;
    layout.sessionCaption = QRectF(0, captionTop, leftWidth, lineHeight(fonts.sessionCaption));
    layout.planCaptionLine = QRectF(0, captionTop, leftWidth, lineHeight(fonts.planCaption));
    // Three 64-wide captions 38 apart: each spans a digit pair of the eight-cell countdown.
    const qreal captionWidth = 64;
    const qreal captionGap = 38;
    const qreal captionsLeft = (leftWidth - (3 * captionWidth + 2 * captionGap)) / 2;
    for (int i = 0; i < 3; ++i)
        layout.planCaptions[i] = QRectF(captionsLeft + i * (captionWidth + captionGap), captionTop,
                                        captionWidth, layout.planCaptionLine.height());
    const qreal captionHeight = std::max(layout.sessionCaption.height(), layout.planCaptionLine.height());
    layout.captionPlate = QRectF(layout.mainWindow.left(), captionTop - plateMargin, layout.mainWindow.width(),
                                 captionHeight + 2 * plateMargin);

    const qreal keyTop = height - 10 - 20;
    layout.keys[int(Key::k1)] = {QRectF(sidePadding, keyTop, 30, 20), 3};
    layout.keys[int(Key::k2)] = {QRectF(sidePadding + 30 + 8, keyTop, 30, 20), 3};
    const qreal projectLeft = layout.key(Key::k2).cap.right() + 12;
    layout.projectName = QRectF(projectLeft, keyTop, leftWidth - sidePadding - projectLeft, 20);

    // Right section: nameplate on top, the OP key at the bottom, and the small window with its
    // caption in the middle of what is left, the two flexible gaps being equal.
    const QRectF right = layout.rightSection;
    const qreal nameplateHeight = lineHeight(fonts.nameplate);
    layout.nameplate = QRectF(right.left(), 10, right.width(), nameplateHeight);
    const QSizeF opSize(36, 22);
    const qreal opTop = height - 10 - opSize.height();
    layout.keys[int(Key::op)] = {QRectF(right.center().x() - opSize.width() / 2, opTop, opSize.width(), opSize.height()), 4};

    const qreal smallCaptionHeight = lineHeight(fonts.smallCaption);
    const qreal middleHeight = 64 + 4 + smallCaptionHeight + 2 * plateMargin;
    const qreal freeHeight = opTop - layout.nameplate.bottom() - middleHeight;
    const qreal smallTop = layout.nameplate.bottom() + freeHeight / 2;
    layout.smallWindow = QRectF(right.left() + 12, smallTop, right.width() - 24, 64);
    layout.smallCaption = QRectF(right.left(), layout.smallWindow.bottom() + 4 + plateMargin, right.width(),
                                 smallCaptionHeight);
    layout.smallCaptionPlate = QRectF(layout.smallWindow.left(), layout.smallCaption.top() - plateMargin,
                                      layout.smallWindow.width(), smallCaptionHeight + 2 * plateMargin);

    // Digits and "%" form one row, centred in the small window.
    const QSizeF stripSize(stripWidth(3, smallDigitWidth, smallSpacing), smallDigitHeight);
    const QSizeF suffixSize = textSize(fonts.suffix, QStringLiteral("%"));
    const qreal smallRowWidth = stripSize.width() + 2 + suffixSize.width();
    const qreal rowLeft = layout.smallWindow.center().x() - smallRowWidth / 2;
    const qreal rowCentreY2 = layout.smallWindow.center().y();
    layout.smallStrip = QRectF(QPointF(rowLeft, rowCentreY2 - stripSize.height() / 2), stripSize);
    layout.suffix = QRectF(QPointF(layout.smallStrip.right() + 2, rowCentreY2 - suffixSize.height() / 2), suffixSize);
    return layout;
}
