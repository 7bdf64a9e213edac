#pragma once

#include <QColor>

// The panel's named colours, shared by every drawing function.
namespace Palette {

inline const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
inline const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
inline const QColor bodyDark = QColor::fromRgbF(0.2f, 0.2f, 0.2f);
inline const QColor bodyMid = QColor::fromRgbF(0.27f, 0.27f, 0.27f);
inline const QColor bodyLight = QColor::fromRgbF(0.34f, 0.34f, 0.34f);
inline const QColor dispBg = QColor::fromRgbF(0.04f, 0.03f, 0.03f);

// Lettering is printed on dark plates set into the metal, as on backlit instrument fascias:
// red ink on the mid-grey metal itself cannot be read at small sizes.
inline const QColor plate = QColor::fromRgbF(0.055f, 0.05f, 0.05f);
inline const QColor inkRed = QColor::fromRgbF(1.0f, 0.36f, 0.22f);   // captions, lit legends, key legends
inline const QColor inkDim = QColor::fromRgbF(0.78f, 0.2f, 0.1f);    // legends of unlit LEDs
inline const QColor inkPale = QColor::fromRgbF(0.8f, 0.78f, 0.76f);  // the project name, like a written label
inline const QColor engraving = QColor::fromRgbF(0.9f, 0.9f, 0.9f); // the nameplate, cut into the metal
inline const QColor keyCap = QColor::fromRgbF(0.09f, 0.09f, 0.09f); // an unlit key

// The faint white sheen over the top of the body, and so the brightest the metal gets.
inline constexpr float sheenTop = 0.04f;

// A neutral grey of the given level, fully opaque.
inline QColor grey(float level) { return QColor::fromRgbF(level, level, level); }

// The colour with its opacity multiplied by factor.
inline QColor withOpacity(QColor color, float factor)
{
    color.setAlphaF(color.alphaF() * factor);
    return color;
}

// Every kind of lettering on the panel, with its ink and the colour of what lies behind it.
enum class Lettering { ledLegendLit, ledLegendUnlit, caption, smallCaption, keyLit, keyUnlit, projectName, nameplate, suffix };
inline constexpr int letteringCount = 9;

struct Ink
{
    QColor ink;
    QColor ground;
};

inline Ink ink(Lettering lettering)
{
    // The metal's lightest point: bodyLight under the top sheen.
    const float metal = bodyLight.redF() * (1 - sheenTop) + sheenTop;
    switch (lettering) {
    case Lettering::ledLegendLit: return {inkRed, plate};
    case Lettering::ledLegendUnlit: return {inkDim, plate};
    case Lettering::caption: return {inkRed, plate};
    case Lettering::smallCaption: return {inkRed, plate};
    case Lettering::keyLit: return {dispBg, ledRed};
    case Lettering::keyUnlit: return {inkRed, keyCap};
    case Lettering::projectName: return {inkPale, plate};
    case Lettering::nameplate: return {engraving, grey(metal)};
    case Lettering::suffix: return {ledRed, dispBg};
    }
    return {};
}

} // namespace Palette
