#include "trayicon.h"

#include "palette.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace {

// The sizes trays ask for (16 to 32), and twice those for high-density screens.
constexpr int iconSizes[] = {16, 22, 24, 32, 44, 48, 64};

// Digits narrowed to at most this much of their width before they are made smaller: at tray
// sizes height reads better than width.
constexpr qreal narrowest = 0.5;

struct Lettering
{
    QFont font;
    qreal widthScale = 1;
};

// The bold face whose digits stand about two thirds of the icon's height, narrowed to fit the box.
Lettering fittingLettering(const QString &digits, const QRectF &box, int size)
{
    Lettering lettering;
    lettering.font.setBold(true);
    lettering.font.setStyleHint(QFont::SansSerif);
    lettering.font.setHintingPreference(QFont::PreferFullHinting);
    const qreal capTarget = std::round(size * 0.62);
    for (int pixels = size; pixels > 4; --pixels) {
        lettering.font.setPixelSize(pixels);
        const QFontMetricsF metrics(lettering.font);
        if (metrics.capHeight() > capTarget)
            continue;
        lettering.widthScale = std::min<qreal>(1, box.width() / metrics.horizontalAdvance(digits));
        if (lettering.widthScale >= narrowest)
            return lettering;
    }
    return lettering;
}

} // namespace

std::optional<qint64> trayFigure(const PanelInputs &shown)
{
    if (shown.state.mode == DisplayMode::session) {
        if (shown.activeSessions.isEmpty())
            return std::nullopt;
        return shown.sessionStats.contextPercent();
    }
    if (!shown.planUsage)
        return std::nullopt;
    return shown.state.alternateView ? shown.planUsage->weeklyPercent() : shown.planUsage->fiveHourPercent();
}

QImage trayIconImage(qint64 percent, int size)
{
    Q_ASSERT(size > 0);
    const bool warning = percent >= trayWarningPercent;
    const QString digits = QString::number(std::clamp<qint64>(percent, 0, 999));
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // A light rim keeps the dark plate apart from a dark tray.
    const QRectF plate = QRectF(image.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = size / 6.0;
    painter.setPen(QPen(warning ? Palette::ledRed.lighter(130) : QColor(96, 96, 96), 1));
    painter.setBrush(warning ? Palette::ledRed : Palette::plate);
    painter.drawRoundedRect(plate, radius, radius);

    // The digits stand in the middle, their cap height two thirds of the plate.
    const qreal margin = std::max(1.0, size / 16.0);
    const QRectF box = QRectF(image.rect()).adjusted(margin, margin, -margin, -margin);
    const Lettering lettering = fittingLettering(digits, box, size);
    const QFontMetricsF metrics(lettering.font);
    const qreal baseline = std::round(box.center().y() + metrics.capHeight() / 2);
    painter.translate(box.center().x(), baseline);
    painter.scale(lettering.widthScale, 1);
    painter.setFont(lettering.font);
    painter.setPen(warning ? Palette::dispBg : Palette::ledRed);
    painter.drawText(QPointF(-metrics.horizontalAdvance(digits) / 2, 0), digits);
    return image;
}

QIcon figureIcon(std::optional<qint64> percent, const QIcon &withoutFigure)
{
    if (!percent)
        return withoutFigure;
    QIcon icon;
    for (int size : iconSizes)
        icon.addPixmap(QPixmap::fromImage(trayIconImage(*percent, size)));
    return icon;
}
