#include "historychartlayout.h"

#include "panellayout.h"

#include <algorithm>

HistoryChartFonts HistoryChartFonts::system()
{
    HistoryChartFonts fonts;
    fonts.nameplate = PanelFonts::font(18, QFont::Black, 3);
    fonts.legend = PanelFonts::font(10, QFont::Bold, 1);
    fonts.readout = PanelFonts::font(11, QFont::Bold, 0);
    fonts.key = PanelFonts::font(10, QFont::ExtraBold, 1);
    fonts.paper = PanelFonts::font(10, QFont::Bold, 0.5);
    return fonts;
}

HistoryChartLayout HistoryChartLayout::compute(QSizeF size, const HistoryChartFonts &fonts)
{
    size = size.expandedTo(minimumSize);
    HistoryChartLayout layout;
    layout.size = size;
    layout.fonts = fonts;
    constexpr qreal margin = 16;
    constexpr qreal headerHeight = 30;
    constexpr qreal legendHeight = 20;
    constexpr qreal timesHeight = 20;
    constexpr qreal gap = 10;
    layout.scaleWidth = 36;
    const qreal left = margin;
    const qreal right = size.width() - margin;

    layout.nameplate = QRectF(left, margin, 140, headerHeight);
    layout.saveKey = QRectF(right - 96, margin + 3, 96, headerHeight - 6);
    const qreal plates = layout.saveKey.left() - gap - (layout.nameplate.right() + gap);
    const qreal directoryWidth = std::min<qreal>(220, plates * 0.3);
    layout.directoryPlate = QRectF(layout.nameplate.right() + gap, margin + 4, directoryWidth, headerHeight - 8);
    layout.readoutPlate = QRectF(layout.directoryPlate.right() + gap, margin + 2,
                                 layout.saveKey.left() - gap - (layout.directoryPlate.right() + gap), headerHeight - 4);

    const qreal paperLeft = left + layout.scaleWidth;
    const qreal paperRight = right - 96; // room for the pen labels at the right end
    qreal y = margin + headerHeight + gap;
    const qreal papers = size.height() - margin - y - 2 * (legendHeight + timesHeight) - gap;
    const qreal quotaHeight = std::round(papers * 0.62);
    layout.quotaLegend = QRectF(paperLeft, y, paperRight - paperLeft, legendHeight);
    y += legendHeight;
    layout.quotaPaper = QRectF(paperLeft, y, paperRight - paperLeft, quotaHeight);
    y += quotaHeight;
    layout.quotaTimes = QRectF(paperLeft, y, paperRight - paperLeft, timesHeight);
    y += timesHeight + gap;
    layout.contextLegend = QRectF(paperLeft, y, paperRight - paperLeft, legendHeight);
    y += legendHeight;
    layout.contextPaper = QRectF(paperLeft, y, paperRight - paperLeft, papers - quotaHeight);
    y += papers - quotaHeight;
    layout.contextTimes = QRectF(paperLeft, y, paperRight - paperLeft, timesHeight);
    return layout;
}

qreal historyX(const QRectF &paper, const QDateTime &from, const QDateTime &to, const QDateTime &at)
{
    const qint64 span = from.msecsTo(to);
    if (span <= 0)
        return paper.right();
    return paper.left() + paper.width() * double(from.msecsTo(at)) / double(span);
}

QDateTime historyTimeAtX(const QRectF &paper, const QDateTime &from, const QDateTime &to, qreal x)
{
    const qreal t = paper.width() > 0 ? std::clamp((x - paper.left()) / paper.width(), 0.0, 1.0) : 1.0;
    return from.addMSecs(qint64(double(from.msecsTo(to)) * t));
}

qreal historyY(const QRectF &paper, double percent)
{
    return paper.bottom() - paper.height() * std::clamp(percent, 0.0, 100.0) / 100.0;
}
