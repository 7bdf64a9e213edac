#pragma once

#include "historychart.h"
#include "historychartlayout.h"

#include <QImage>
#include <QPointF>
#include <QString>

#include <optional>

class QPainter;

// The history chart as a strip-chart recorder: a metal case, two strips of gridded paper behind
// a bezel, red pens. Paints into the painter's current space of layout.size.
void paintHistoryChart(QPainter &painter, const HistoryChartLayout &layout, const HistorySeries &series,
                       const std::optional<QPointF> &pointer = std::nullopt);

// Renders the chart into a new image at the given device pixel ratio.
QImage renderHistoryChart(const HistoryChartLayout &layout, const HistorySeries &series, qreal dpr,
                          const std::optional<QPointF> &pointer = std::nullopt);

// What the readout plate shows: the time under the pointer and the figures of the strip it is
// over, or the latest figures when it is over neither.
QString historyChartReadout(const HistoryChartLayout &layout, const HistorySeries &series,
                            const std::optional<QPointF> &pointer);

// The ink colours of the paper, for checks of the drawing.
namespace HistoryInk {
inline const QColor paper = QColor(0xF2, 0xEC, 0xDC);
inline const QColor gridMinor = QColor(0xC9, 0xDB, 0xC9);
inline const QColor gridMajor = QColor(0x93, 0xB5, 0x99);
inline const QColor print = QColor(0x2E, 0x52, 0x35);      // figures printed on the paper
inline const QColor fiveHourPen = QColor(0xC4, 0x1A, 0x0A);
inline const QColor weeklyPen = QColor(0x7E, 0x12, 0x06);
inline const QColor resetMark = QColor(0xC4, 0x1A, 0x0A, 0x70);
inline const QColor graphite = QColor(0x33, 0x33, 0x33);
} // namespace HistoryInk
