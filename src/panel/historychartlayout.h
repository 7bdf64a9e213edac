#pragma once

#include <QDateTime>
#include <QFont>
#include <QRectF>
#include <QSizeF>

// Where the parts of the history chart go, in pixels of a window of any size at ratio 1.

struct HistoryChartFonts
{
    QFont nameplate; // "GLIMMEROX"
    QFont legend;    // the engraved strip titles, scale figures and day names
    QFont readout;   // the figures under the pointer, on the header plate
    QFont key;       // "SAVE PNG"
    QFont paper;     // printed on the paper: pen labels, "NOW"

    static HistoryChartFonts system();
};

struct HistoryChartLayout
{
    static constexpr QSizeF defaultSize{960, 600};
    static constexpr QSizeF minimumSize{640, 420};

    QSizeF size;
    QRectF nameplate;
    QRectF directoryPlate; // the data directory shown
    QRectF readoutPlate;
    QRectF saveKey;
    QRectF quotaLegend;  // the engraved title above the quota paper
    QRectF quotaPaper;
    QRectF quotaTimes;   // day names below it
    QRectF contextLegend;
    QRectF contextPaper;
    QRectF contextTimes;
    qreal scaleWidth = 0; // the engraved per-cent scale left of each paper
    HistoryChartFonts fonts;

    static HistoryChartLayout compute(QSizeF size, const HistoryChartFonts &fonts = HistoryChartFonts::system());
};

// The x of `at` on `paper`, which spans `from` to `to`; and the time at an x.
qreal historyX(const QRectF &paper, const QDateTime &from, const QDateTime &to, const QDateTime &at);
QDateTime historyTimeAtX(const QRectF &paper, const QDateTime &from, const QDateTime &to, qreal x);
// The y of a figure of 0..100 % on `paper`.
qreal historyY(const QRectF &paper, double percent);
