#pragma once

#include "panelcontent.h"

#include <QFont>
#include <QRectF>
#include <QSizeF>

#include <array>
#include <optional>

// The panel's text styles: the system's monospaced font at fixed sizes, weights and tracking.
struct PanelFonts
{
    QFont ledLegend;      // LED legends
    QFont sessionCaption; // the caption under the main display in session mode
    QFont planCaption;    // "D D", "H H", "M M"
    QFont modeKey;        // "K1", "K2"
    QFont opKey;          // "OP"
    QFont nameplate;      // "GLIMMEROX"
    QFont suffix;         // "%" beside the small display
    QFont smallCaption;   // the caption under the small display
    QFont projectName;    // the shown session's project, right of the keys

    // The system's fixed-pitch font; one design unit is one pixel at ratio 1.
    static PanelFonts system();
    static QFont font(int size, QFont::Weight weight, qreal tracking);
};

// One LED: its lamp, its legend, and the whole item (the area a click hits).
struct LedGeometry
{
    QRectF lamp;
    QRectF legend;
    QRectF item;
};

// A key: its cap and the legend's box (the cap itself; legends are centred in it).
struct KeyGeometry
{
    QRectF cap;
    qreal radius = 0;
};

// Where every element of the 650 x 185 panel sits, in design units with the origin at the
// top-left. Computed once from the fonts; text boxes are sized from their metrics.
struct PanelLayout
{
    static constexpr qreal width = 650;
    static constexpr qreal height = 185;
    static constexpr qreal cornerRadius = 10;

    // Main strip cells and small strip cells.
    static constexpr qreal mainDigitWidth = 30;
    static constexpr qreal mainDigitHeight = 60;
    static constexpr qreal mainSpacing = 4;
    static constexpr int mainDigits = 8;
    static constexpr qreal smallDigitWidth = 24;
    static constexpr qreal smallDigitHeight = 46;
    static constexpr qreal smallSpacing = 3;

    PanelFonts fonts;

    QRectF panel;
    QRectF leftSection;
    QRectF divider;
    QRectF rightSection;

    QRectF ledRow;
    QRectF ledPlate; // the dark plate the LED legends are printed on
    std::array<LedGeometry, ledCount> leds;

    QRectF mainWindow;       // 434 x 82
    QRectF sessionCaption;   // the full-width line under the main window (session mode)
    QRectF planCaptionLine;  // the same line in plan mode (its font is taller)
    std::array<QRectF, 3> planCaptions; // each 64 wide, centred under a digit pair
    QRectF captionPlate;     // behind the caption line, as wide as the main window

    std::array<KeyGeometry, keyCount> keys;
    QRectF projectName; // the rest of the key row, right of "K2"

    QRectF nameplate;
    QRectF smallWindow;  // 161 x 64
    QRectF smallStrip;   // 78 x 46
    QRectF suffix;
    QRectF smallCaption;
    QRectF smallCaptionPlate;

    // The main strip of the given number of cells, centred in the main window.
    QRectF mainStrip(qsizetype cells) const;

    const LedGeometry &led(Led which) const { return leds[static_cast<int>(which)]; }
    const KeyGeometry &key(Key which) const { return keys[static_cast<int>(which)]; }

    // The clickable element under a point, if any.
    std::optional<PanelClick> hit(QPointF point) const;
    // The element with a tooltip under a point, if any, and where that element lies.
    std::optional<PanelArea> areaAt(QPointF point) const;
    QRectF areaRect(PanelArea area) const;

    static PanelLayout compute(const PanelFonts &fonts);
};
