#pragma once

#include <QColor>

// The panel's named colours, shared by every drawing function.
namespace Palette {

inline const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
inline const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
inline const QColor bodyDark = QColor::fromRgbF(0.22f, 0.22f, 0.22f);
inline const QColor bodyMid = QColor::fromRgbF(0.3f, 0.3f, 0.3f);
inline const QColor bodyLight = QColor::fromRgbF(0.38f, 0.38f, 0.38f);
inline const QColor dispBg = QColor::fromRgbF(0.04f, 0.03f, 0.03f);

// A neutral grey of the given level, fully opaque.
inline QColor grey(float level) { return QColor::fromRgbF(level, level, level); }

// The colour with its opacity multiplied by factor.
inline QColor withOpacity(QColor color, float factor)
{
    color.setAlphaF(color.alphaF() * factor);
    return color;
}

} // namespace Palette
