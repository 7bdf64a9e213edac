#include "historychartpainter.h"

#include "instrumentparts.h"
#include "palette.h"
#include "roundedshape.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

using namespace Palette;

namespace {

// The middle of the device pixel nearest to `v`: a one-pixel line drawn there stays sharp.
qreal snap(qreal v, qreal dpr)
{
    return (std::floor(v * dpr) + 0.5) / dpr;
}

void drawEngraved(QPainter &painter, const QRectF &box, int flags, const QString &text)
{
    painter.setPen(withOpacity(Qt::black, 0.5f));
    painter.drawText(box.translated(0, 1), flags, text);
    painter.setPen(ink(Lettering::nameplate).ink);
    painter.drawText(box, flags, text);
}

// A slotted screw head holding the case together.
void paintScrew(QPainter &painter, const QPointF &centre)
{
    constexpr qreal radius = 4.5;
    QLinearGradient head(centre - QPointF(radius, radius), centre + QPointF(radius, radius));
    head.setColorAt(0.0, grey(0.62f));
    head.setColorAt(1.0, grey(0.22f));
    painter.setPen(QPen(withOpacity(Qt::black, 0.6f), 0.8));
    painter.setBrush(head);
    painter.drawEllipse(centre, radius, radius);
    painter.setPen(QPen(grey(0.12f), 1.2));
    painter.drawLine(centre + QPointF(-radius * 0.7, radius * 0.35), centre + QPointF(radius * 0.7, -radius * 0.35));
    painter.setBrush(Qt::NoBrush);
}

void paintKey(QPainter &painter, const QRectF &rect, const QFont &font, const QString &legend)
{
    const QPainterPath cap = continuousRoundedRect(rect, 4);
    painter.fillPath(cap.translated(0, 1.5), withOpacity(Qt::black, 0.45f));
    painter.fillPath(cap, keyCap);
    QLinearGradient bevel(rect.topLeft(), rect.bottomLeft());
    bevel.setColorAt(0.0, withOpacity(Qt::white, 0.22f));
    bevel.setColorAt(0.5, withOpacity(Qt::white, 0.0f));
    bevel.setColorAt(1.0, withOpacity(Qt::black, 0.5f));
    painter.strokePath(cap, QPen(QBrush(bevel), 1));
    painter.setFont(font);
    painter.setPen(ink(Lettering::keyUnlit).ink);
    painter.drawText(rect, Qt::AlignCenter, legend);
}

// The paper behind its bezel: a dark frame, the paper lit a little more in the middle, and the
// shadow the bezel casts on it.
void paintPaper(QPainter &painter, const QRectF &paper)
{
    const QRectF frame = paper.adjusted(-4, -4, 4, 4);
    const QPainterPath outline = continuousRoundedRect(frame, 4);
    painter.fillPath(outline.translated(1.5, 2), withOpacity(Qt::black, 0.5f));
    painter.fillPath(outline, grey(0.1f));
    painter.strokePath(outline, QPen(withOpacity(Qt::white, 0.12f), 0.8));
    painter.fillRect(paper, HistoryInk::paper);
    QLinearGradient shade(paper.topLeft(), paper.bottomLeft());
    shade.setColorAt(0.0, withOpacity(Qt::black, 0.16f));
    shade.setColorAt(0.06, withOpacity(Qt::black, 0.0f));
    shade.setColorAt(0.94, withOpacity(Qt::black, 0.0f));
    shade.setColorAt(1.0, withOpacity(Qt::black, 0.06f));
    painter.fillRect(paper, shade);
}

void paintHorizontalGrid(QPainter &painter, const QRectF &paper, int minorStep, int majorStep, qreal dpr)
{
    for (int percent = minorStep; percent < 100; percent += minorStep) {
        const bool major = percent % majorStep == 0;
        painter.setPen(QPen(major ? HistoryInk::gridMajor : HistoryInk::gridMinor, 1 / dpr));
        const qreal y = snap(historyY(paper, percent), dpr);
        painter.drawLine(QPointF(paper.left(), y), QPointF(paper.right(), y));
    }
}

void paintVerticalLine(QPainter &painter, const QRectF &paper, qreal x, const QColor &color, qreal dpr)
{
    painter.setPen(QPen(color, 1 / dpr));
    const qreal snapped = snap(x, dpr);
    painter.drawLine(QPointF(snapped, paper.top()), QPointF(snapped, paper.bottom()));
}

// The engraved figures of the per-cent scale, right-aligned left of the paper.
void paintScale(QPainter &painter, const HistoryChartLayout &layout, const QRectF &paper, int step)
{
    painter.setFont(layout.fonts.legend);
    const QFontMetricsF metrics(layout.fonts.legend);
    for (int percent = 0; percent <= 100; percent += step) {
        const qreal y = historyY(paper, percent);
        const QRectF box(paper.left() - layout.scaleWidth, y - metrics.height() / 2, layout.scaleWidth - 8, metrics.height());
        drawEngraved(painter, box, Qt::AlignRight | Qt::AlignVCenter, QString::number(percent));
    }
}

QPainterPath tracePath(const HistoryTrace &trace, const QRectF &paper, const QDateTime &from, const QDateTime &to)
{
    QPainterPath path;
    for (const HistoryPoint &point : trace.points) {
        const QPointF at(historyX(paper, from, to, point.at), historyY(paper, point.percent));
        if (path.elementCount() == 0)
            path.moveTo(at);
        else
            path.lineTo(at);
    }
    return path;
}

QPen tracePen(const HistoryTrace &trace)
{
    if (trace.window == HistoryKey::fiveHour || trace.window.isEmpty())
        return QPen(HistoryInk::fiveHourPen, 1.6, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    QPen pen(HistoryInk::weeklyPen, 2.2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    if (trace.window != HistoryKey::sevenDay)
        pen.setDashPattern({3, 2});
    return pen;
}

// A reset: a small pen-coloured wedge at the top of the paper and a faint line down it.
void paintReset(QPainter &painter, const QRectF &paper, qreal x, qreal dpr)
{
    painter.setPen(QPen(HistoryInk::resetMark, 1 / dpr, Qt::DashLine));
    const qreal snapped = snap(x, dpr);
    painter.drawLine(QPointF(snapped, paper.top() + 6), QPointF(snapped, paper.bottom()));
    QPainterPath wedge;
    wedge.moveTo(x - 4, paper.top());
    wedge.lineTo(x + 4, paper.top());
    wedge.lineTo(x, paper.top() + 6);
    wedge.closeSubpath();
    painter.fillPath(wedge, HistoryInk::fiveHourPen);
}

// Paper labels at the right end of the pens, pushed apart so they never overlap.
void paintPenLabels(QPainter &painter, const HistoryChartLayout &layout, const QRectF &paper,
                    const QList<HistoryTrace> &traces, const QDateTime &to, qreal dpr)
{
    struct Label
    {
        const HistoryTrace *trace;
        qreal penY;
        qreal y;
    };
    QList<Label> labels;
    for (const HistoryTrace &trace : traces)
        if (const std::optional<double> value = trace.valueAt(to))
            labels.append({&trace, historyY(paper, *value), historyY(paper, *value)});
    std::sort(labels.begin(), labels.end(), [](const Label &a, const Label &b) { return a.penY < b.penY; });
    const QFontMetricsF metrics(layout.fonts.paper);
    const qreal height = metrics.height() + 2;
    for (qsizetype i = 1; i < labels.size(); ++i)
        labels[i].y = std::max(labels[i].y, labels[i - 1].y + height + 3);
    // Pushed past the bottom: move the whole column up.
    const qreal overflow = labels.isEmpty() ? 0 : labels.constLast().y + height / 2 - paper.bottom();
    for (Label &label : labels)
        label.y -= std::max<qreal>(0, overflow);
    painter.setFont(layout.fonts.paper);
    for (const Label &label : labels) {
        const QString text = label.trace->label.toUpper();
        // On whole device pixels: a half-covered edge reads as a grey rim that closes the gap.
        const QRectF tag(std::round((paper.right() + 10) * dpr) / dpr, std::round((label.y - height / 2) * dpr) / dpr,
                         std::ceil((metrics.horizontalAdvance(text) + 8) * dpr) / dpr, std::ceil(height * dpr) / dpr);
        painter.setPen(QPen(tracePen(*label.trace).color(), 1));
        painter.drawLine(QPointF(paper.right() + 4, label.penY), QPointF(tag.left(), label.y));
        painter.fillRect(tag, HistoryInk::paper);
        painter.setPen(tracePen(*label.trace).color());
        painter.drawText(tag, Qt::AlignCenter, text);
    }
}

// The now line at the paper's right edge, named in the engraved row above the paper.
void paintNow(QPainter &painter, const HistoryChartLayout &layout, const QRectF &paper, const QRectF &legend, qreal dpr)
{
    paintVerticalLine(painter, paper, paper.right() - 1, HistoryInk::graphite, dpr);
    painter.save();
    painter.setClipping(false);
    painter.setFont(layout.fonts.legend);
    drawEngraved(painter, QRectF(legend.right() - 60, legend.top(), 60, legend.height()), Qt::AlignRight | Qt::AlignVCenter,
                 QStringLiteral("NOW"));
    painter.restore();
}

void paintPointer(QPainter &painter, const QRectF &paper, const QList<HistoryTrace> &traces, const QDateTime &from,
                  const QDateTime &to, qreal x, qreal dpr)
{
    paintVerticalLine(painter, paper, x, HistoryInk::graphite, dpr);
    const QDateTime at = historyTimeAtX(paper, from, to, x);
    for (const HistoryTrace &trace : traces) {
        if (const std::optional<double> value = trace.valueAt(at)) {
            painter.setPen(QPen(HistoryInk::graphite, 1));
            painter.setBrush(HistoryInk::paper);
            painter.drawEllipse(QPointF(x, historyY(paper, *value)), 3, 3);
        }
    }
    painter.setBrush(Qt::NoBrush);
}

void paintEmpty(QPainter &painter, const HistoryChartLayout &layout, const QRectF &paper, const QString &text)
{
    painter.setFont(layout.fonts.paper);
    painter.setPen(HistoryInk::print);
    painter.drawText(paper, Qt::AlignCenter, text);
}

// Midnights of the chart's clock between `from` and `to`.
QList<QDateTime> midnights(const QDateTime &from, const QDateTime &to, const QTimeZone &zone)
{
    QList<QDateTime> days;
    QDate day = from.toTimeZone(zone).date().addDays(1);
    for (QDateTime at(day, QTime(0, 0), zone); at < to; day = day.addDays(1), at = QDateTime(day, QTime(0, 0), zone))
        days.append(at);
    return days;
}

void paintQuotaStrip(QPainter &painter, const HistoryChartLayout &layout, const HistorySeries &series, qreal dpr,
                     const std::optional<QPointF> &pointer)
{
    const QRectF paper = layout.quotaPaper;
    painter.setFont(layout.fonts.legend);
    drawEngraved(painter, layout.quotaLegend, Qt::AlignLeft | Qt::AlignVCenter,
                 QStringLiteral("PLAN LIMITS · LAST 7 DAYS"));
    paintPaper(painter, paper);
    // Every six hours a fine line, every midnight a strong one.
    const QList<QDateTime> days = midnights(series.from, series.now, series.zone);
    for (const QDateTime &midnight : days) {
        for (int hours = 6; hours < 24; hours += 6) {
            const QDateTime at = midnight.addSecs(-hours * 3600);
            if (at > series.from)
                paintVerticalLine(painter, paper, historyX(paper, series.from, series.now, at), HistoryInk::gridMinor, dpr);
        }
    }
    for (int hours = 6; !days.isEmpty() && hours < 24; hours += 6) {
        const QDateTime at = days.constLast().addSecs(hours * 3600);
        if (at < series.now)
            paintVerticalLine(painter, paper, historyX(paper, series.from, series.now, at), HistoryInk::gridMinor, dpr);
    }
    paintHorizontalGrid(painter, paper, 10, 50, dpr);
    for (const QDateTime &midnight : days)
        paintVerticalLine(painter, paper, historyX(paper, series.from, series.now, midnight), HistoryInk::gridMajor, dpr);
    paintScale(painter, layout, paper, 25);

    // Day names under the middle of each day, where the day is wide enough to hold one.
    painter.setFont(layout.fonts.legend);
    QList<QDateTime> edges{series.from};
    edges.append(days);
    edges.append(series.now);
    const QFontMetricsF metrics(layout.fonts.legend);
    for (qsizetype i = 0; i + 1 < edges.size(); ++i) {
        const qreal left = historyX(paper, series.from, series.now, edges.at(i));
        const qreal right = historyX(paper, series.from, series.now, edges.at(i + 1));
        const QString name = QLocale::c().toString(edges.at(i).toTimeZone(series.zone).date(), QStringLiteral("ddd d")).toUpper();
        if (right - left >= metrics.horizontalAdvance(name) + 6)
            drawEngraved(painter, QRectF(left, layout.quotaTimes.top(), right - left, layout.quotaTimes.height()),
                         Qt::AlignCenter, name);
    }

    painter.save();
    painter.setClipRect(paper);
    for (const HistoryTrace &trace : series.quotas)
        for (const QDateTime &reset : trace.resets)
            paintReset(painter, paper, historyX(paper, series.from, series.now, reset), dpr);
    painter.setRenderHint(QPainter::Antialiasing);
    // The weekly pens first, so the 5-hour pen's saw-tooth lies on top.
    for (auto trace = series.quotas.crbegin(); trace != series.quotas.crend(); ++trace) {
        painter.setPen(tracePen(*trace));
        painter.drawPath(tracePath(*trace, paper, series.from, series.now));
    }
    if (series.quotas.isEmpty())
        paintEmpty(painter, layout, paper,
                   QStringLiteral("NO PLAN HISTORY YET: IT IS KEPT FROM THE STATUS LINE AND THE PLAN REPORTS"));
    paintNow(painter, layout, paper, layout.quotaLegend, dpr);
    if (pointer && paper.contains(*pointer))
        paintPointer(painter, paper, series.quotas, series.from, series.now, pointer->x(), dpr);
    painter.restore();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paintPenLabels(painter, layout, paper, series.quotas, series.now, dpr);
    painter.restore();
}

// A tick interval for a span that leaves at least `minimumGap` pixels between ticks.
qint64 tickSeconds(qint64 span, qreal width, qreal minimumGap)
{
    static constexpr qint64 steps[] = {60, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    for (const qint64 step : steps)
        if (width * double(step) / double(std::max<qint64>(span, 1)) >= minimumGap)
            return step;
    return steps[std::size(steps) - 1];
}

void paintContextStrip(QPainter &painter, const HistoryChartLayout &layout, const HistorySeries &series, qreal dpr,
                       const std::optional<QPointF> &pointer)
{
    const QRectF paper = layout.contextPaper;
    painter.setFont(layout.fonts.legend);
    const QString title = series.project.isEmpty() ? QStringLiteral("CONTEXT OF THE SHOWN SESSION")
                                                   : QStringLiteral("CONTEXT · %1").arg(series.project.toUpper());
    const QFontMetricsF legendMetrics(layout.fonts.legend);
    drawEngraved(painter, layout.contextLegend, Qt::AlignLeft | Qt::AlignVCenter,
                 legendMetrics.elidedText(title, Qt::ElideRight, layout.contextLegend.width()));
    paintPaper(painter, paper);
    paintHorizontalGrid(painter, paper, 10, 50, dpr);
    paintScale(painter, layout, paper, 50);
    const bool hasContext = !series.context.points.isEmpty();
    if (hasContext) {
        const qint64 span = series.contextFrom.secsTo(series.contextTo);
        const qint64 step = tickSeconds(span, paper.width(), 90);
        // Ticks on whole steps of the chart's clock.
        const qint64 offset = series.contextFrom.toTimeZone(series.zone).offsetFromUtc();
        qint64 tick = ((series.contextFrom.toSecsSinceEpoch() + offset) / step + 1) * step - offset;
        for (; tick < series.contextTo.toSecsSinceEpoch(); tick += step) {
            const QDateTime at = QDateTime::fromSecsSinceEpoch(tick, Qt::UTC);
            const qreal x = historyX(paper, series.contextFrom, series.contextTo, at);
            paintVerticalLine(painter, paper, x, HistoryInk::gridMinor, dpr);
            const QString text = at.toTimeZone(series.zone).toString(step >= 86400 ? QStringLiteral("dd.MM") : QStringLiteral("HH:mm"));
            const QRectF box(x - 40, layout.contextTimes.top(), 80, layout.contextTimes.height());
            if (box.left() >= paper.left() - 20 && box.right() <= paper.right() + 20)
                drawEngraved(painter, box, Qt::AlignCenter, text);
        }
    }
    painter.save();
    painter.setClipRect(paper);
    if (hasContext) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(tracePen(series.context));
        painter.drawPath(tracePath(series.context, paper, series.contextFrom, series.contextTo));
        if (series.contextTo == series.now)
            paintNow(painter, layout, paper, layout.contextLegend, dpr);
        if (pointer && paper.contains(*pointer))
            paintPointer(painter, paper, {series.context}, series.contextFrom, series.contextTo, pointer->x(), dpr);
    } else {
        paintEmpty(painter, layout, paper, QStringLiteral("NO TRANSCRIPT OF THE SHOWN SESSION"));
    }
    painter.restore();
    if (hasContext) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        paintPenLabels(painter, layout, paper, {series.context}, series.contextTo, dpr);
        painter.restore();
    }
}

} // namespace

QString historyChartReadout(const HistoryChartLayout &layout, const HistorySeries &series,
                            const std::optional<QPointF> &pointer)
{
    if (pointer && layout.quotaPaper.contains(*pointer))
        return historyReadout(series.quotas,
                              historyTimeAtX(layout.quotaPaper, series.from, series.now, pointer->x()), series.zone);
    if (pointer && layout.contextPaper.contains(*pointer) && !series.context.points.isEmpty())
        return historyReadout({series.context},
                              historyTimeAtX(layout.contextPaper, series.contextFrom, series.contextTo, pointer->x()),
                              series.zone);
    return historyReadout(series.quotas, series.now, series.zone);
}

void paintHistoryChart(QPainter &painter, const HistoryChartLayout &layout, const HistorySeries &series,
                       const std::optional<QPointF> &pointer)
{
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    const qreal dpr = deviceRatio(painter);
    paintMetal(painter, QRectF(QPointF(), layout.size));

    painter.setRenderHint(QPainter::Antialiasing);
    for (const QPointF &corner : {QPointF(7, 7), QPointF(layout.size.width() - 7, 7), QPointF(7, layout.size.height() - 7),
                                  QPointF(layout.size.width() - 7, layout.size.height() - 7)})
        paintScrew(painter, corner);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(layout.fonts.nameplate);
    drawEngraved(painter, layout.nameplate, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("GLIMMEROX"));

    paintPlate(painter, layout.directoryPlate);
    painter.setFont(layout.fonts.legend);
    painter.setPen(ink(Lettering::projectName).ink);
    const QRectF directoryText = layout.directoryPlate.adjusted(8, 0, -8, 0);
    painter.drawText(directoryText, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(layout.fonts.legend).elidedText(series.dataDirectory, Qt::ElideMiddle, directoryText.width()));

    paintPlate(painter, layout.readoutPlate);
    painter.setFont(layout.fonts.readout);
    painter.setPen(ink(Lettering::caption).ink);
    const QRectF readoutText = layout.readoutPlate.adjusted(10, 0, -10, 0);
    painter.drawText(readoutText, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(layout.fonts.readout)
                         .elidedText(historyChartReadout(layout, series, pointer), Qt::ElideRight, readoutText.width()));

    painter.setRenderHint(QPainter::Antialiasing);
    paintKey(painter, layout.saveKey, layout.fonts.key, QStringLiteral("SAVE PNG"));
    painter.setRenderHint(QPainter::Antialiasing, false);

    paintQuotaStrip(painter, layout, series, dpr, pointer);
    paintContextStrip(painter, layout, series, dpr, pointer);
    painter.restore();
}

QImage renderHistoryChart(const HistoryChartLayout &layout, const HistorySeries &series, qreal dpr,
                          const std::optional<QPointF> &pointer)
{
    QImage image((layout.size * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    QPainter painter(&image);
    paintHistoryChart(painter, layout, series, pointer);
    return image;
}
