#include "historychart.h"
#include "historychartpainter.h"
#include "historystore.h"
#include "historywindow.h"
#include "samplehistory.h"
#include "panelcontent.h"
#include "paneltooltip.h"

#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QDateTime now = QDateTime(QDate(2026, 3, 3), QTime(15, 0), Qt::UTC); // a Tuesday

HistoryRecord record(const QString &window, double percent, const QDateTime &at, const QDateTime &resetsAt)
{
    return {window, percent, resetsAt, at, HistorySource::statusLine};
}

bool near(const QColor &actual, const QColor &expected, int tolerance)
{
    return qAbs(actual.red() - expected.red()) <= tolerance && qAbs(actual.green() - expected.green()) <= tolerance
        && qAbs(actual.blue() - expected.blue()) <= tolerance;
}

QColor pixel(const QImage &image, const QPointF &at)
{
    return image.pixelColor((at * image.devicePixelRatio()).toPoint());
}

// A pen's line is antialiased: some device pixel within a unit of `at` carries its ink.
bool inkNear(const QImage &image, const QPointF &at, const QColor &ink)
{
    const qreal dpr = image.devicePixelRatio();
    for (qreal dy = -1; dy <= 1; dy += 1 / dpr)
        if (near(pixel(image, at + QPointF(0, dy)), ink, 24))
            return true;
    return false;
}

// WCAG 2 contrast of two opaque colours.
double contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class TestHistoryChart : public QObject
{
    Q_OBJECT

private slots:
    // The 5-hour saw-tooth: a figure holds until the next record, drops to 0 at its reset, and
    // the reset is marked; the readout names the time and the figure.
    void series()
    {
        const QDateTime t0 = now.addSecs(-4 * 3600);
        const QList<HistoryRecord> records{
            record(HistoryKey::fiveHour, 10, t0, t0.addSecs(3600)),
            record(HistoryKey::fiveHour, 62.4, t0.addSecs(50 * 60), t0.addSecs(3600)),
            record(HistoryKey::sevenDayOf(u"Opus"_s), 20, t0, now.addDays(2)),
            record(HistoryKey::fiveHour, 5, t0.addSecs(2 * 3600), t0.addSecs(6 * 3600)),
            record(HistoryKey::fiveHour, 99, now.addSecs(600), t0.addSecs(6 * 3600)), // from a clock ahead: not yet
            record(HistoryKey::sevenDay, 41, now.addDays(-9), now.addDays(2)),
            record(HistoryKey::sevenDayOf(u"Sonnet"_s), 70, now.addDays(-12), now.addDays(-8)),
        };
        const HistorySeries series = historySeries(records, {}, 200000, now);
        QCOMPARE(series.quotas.size(), 4);
        const HistoryTrace &five = series.quotas.at(0);
        QCOMPARE(five.label, u"5-hour"_s);
        QCOMPARE(series.quotas.at(1).label, u"7-day"_s);
        QCOMPARE(series.quotas.at(2).label, u"7-day Opus"_s);
        QCOMPARE(five.valueAt(t0.addSecs(55 * 60)), 62.4);
        QCOMPARE(five.valueAt(t0.addSecs(90 * 60)), 0.0);
        QCOMPARE(five.valueAt(now), 5.0);
        QCOMPARE(five.resets, QList<QDateTime>{t0.addSecs(3600)});
        // A record from before the chart's 7 days still gives the figure at its start.
        QCOMPARE(series.quotas.at(1).valueAt(series.from), 41.0);
        // One whose reset came before the chart's start stands at 0 from its left edge.
        QCOMPARE(series.quotas.at(3).points, (QList<HistoryPoint>{{series.from, 0}, {now, 0}}));
        QCOMPARE(historyReadout(series.quotas, t0.addSecs(55 * 60), QTimeZone::utc()),
                 u"Tue 11:55 · 5-hour 62 % · 7-day 41 % · 7-day Opus 20 % · 7-day Sonnet 0 %"_s);
    }

    // The bridge's hook: a payload's two windows, appended only when they change.
    void bridgeAppendsChanges()
    {
        QTemporaryDir dir;
        StatusLineSample sample;
        sample.session.dataDirectory = dir.filePath(u".claude"_s);
        sample.fiveHour = PlanWindowSample{23, now.addSecs(3600), now};
        sample.sevenDay = PlanWindowSample{41, std::nullopt, now};
        const QString state = dir.filePath(u"state"_s);
        QVERIFY(recordSampleHistory(sample, std::nullopt, state).isEmpty());
        QVERIFY(recordSampleHistory(sample, std::nullopt, state).isEmpty());
        sample.fiveHour->usedPercent = 24;
        QVERIFY(recordSampleHistory(sample, std::nullopt, state).isEmpty());
        const QList<HistoryRecord> kept = HistoryStore(state).read(sample.session.dataDirectory);
        QCOMPARE(kept.size(), 3);
        QCOMPARE(kept.at(1), (HistoryRecord{HistoryKey::sevenDay, 41, std::nullopt, now, HistorySource::statusLine}));
        QCOMPARE(kept.at(2).percent, 24.0);
    }

    void context()
    {
        const QList<ContextPoint> points{{now.addSecs(-3000), 50000, {}}, {now.addSecs(-600), 150000, {}}};
        const HistorySeries series = historySeries({}, points, 200000, now);
        QCOMPARE(series.contextFrom, now.addSecs(-3000));
        QCOMPARE(series.contextTo, now); // a session in use runs up to now
        QCOMPARE(series.context.valueAt(now.addSecs(-700)), 25.0);
        QCOMPARE(series.context.valueAt(now), 75.0);
    }

    // What is printed on the paper, pen labels included, reads at 4.5 : 1 or better.
    void paperContrast()
    {
        for (const QColor &ink : {HistoryInk::print, HistoryInk::fiveHourPen, HistoryInk::weeklyPen})
            QVERIFY2(contrast(ink, HistoryInk::paper) >= 4.5, qPrintable(ink.name()));
    }

    void picture_data()
    {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<qreal>("dpr");
        QTest::addRow("default size at 1x") << HistoryChartLayout::defaultSize << 1.0;
        QTest::addRow("smallest size at 2x") << HistoryChartLayout::minimumSize << 2.0;
    }

    // The pens lie where their figures are, on paper that is clean elsewhere.
    void picture()
    {
        QFETCH(QSizeF, size);
        QFETCH(qreal, dpr);
        HistorySeries series;
        series.now = now;
        series.from = now.addDays(-historyChartDays);
        series.zone = QTimeZone::utc();
        series.quotas = {{HistoryKey::fiveHour, u"5-hour"_s, {{series.from, 60}, {now, 60}}, {}},
                         {HistoryKey::sevenDay, u"7-day"_s, {{series.from, 85}, {now, 85}}, {}}};
        const HistoryChartLayout layout = HistoryChartLayout::compute(size);
        const QImage image = renderHistoryChart(layout, series, dpr);
        QCOMPARE(image.size(), (size * dpr).toSize());
        // 03:00 lies between the six-hour lines; 35 % and 65 % between the 10 % ones.
        const qreal x = historyX(layout.quotaPaper, series.from, now, QDateTime(QDate(2026, 3, 1), QTime(3, 0), Qt::UTC));
        QVERIFY(inkNear(image, {x, historyY(layout.quotaPaper, 60)}, HistoryInk::fiveHourPen));
        QVERIFY(inkNear(image, {x, historyY(layout.quotaPaper, 85)}, HistoryInk::weeklyPen));
        QVERIFY(near(pixel(image, {x, historyY(layout.quotaPaper, 35)}), HistoryInk::paper, 10));
        QVERIFY(near(pixel(image, {x, historyY(layout.quotaPaper, 65)}), HistoryInk::paper, 10));
        const QRectF context = layout.contextPaper;
        QVERIFY(near(pixel(image, {context.left() + context.width() / 8, historyY(context, 35)}), HistoryInk::paper, 10));
        QCOMPARE(historyChartReadout(layout, series, QPointF(x, layout.quotaPaper.center().y())),
                 u"Sun 03:00 · 5-hour 60 % · 7-day 85 %"_s);
    }

    // Two pens ending 5 points apart: their paper tags are pushed apart with bare metal between
    // them, not a rim of half-covered pixels that makes them read as one.
    void penTagsApart()
    {
        HistorySeries series;
        series.now = now;
        series.from = now.addDays(-historyChartDays);
        series.quotas = {{HistoryKey::fiveHour, u"5-hour"_s, {{series.from, 62}, {now, 62}}, {}},
                         {HistoryKey::sevenDay, u"7-day"_s, {{series.from, 67}, {now, 67}}, {}}};
        const HistoryChartLayout layout = HistoryChartLayout::compute(HistoryChartLayout::defaultSize);
        const QRectF paper = layout.quotaPaper;
        for (qreal dpr : {1.0, 2.0}) {
            const QImage image = renderHistoryChart(layout, series, dpr);
            QString rows; // runs of p: paper, m: bare metal, -: between
            for (int y = int(historyY(paper, 75) * dpr); y < int(historyY(paper, 52) * dpr); ++y) {
                const QColor c = image.pixelColor(int((paper.right() + 12) * dpr), y);
                const QChar kind = near(c, HistoryInk::paper, 10) ? u'p' : c.lightness() < 128 ? u'm' : u'-';
                if (rows.isEmpty() || rows.back() != kind)
                    rows += kind;
            }
            QVERIFY2(rows.contains(QRegularExpression(u"p-?m-?p"_s)), qPrintable(rows));
        }
    }

    // A shown window that runs out before its reset: the caption line says when, its LED blinks
    // every 2 s of the clock unless a fetch blinks it faster, and its tooltip gives the basis.
    void paceOnThePanel()
    {
        PanelInputs in;
        in.state = {DisplayMode::plan, false};
        in.now = now;
        in.planUsage = PlanUsage{40, now.addSecs(7200), 10, now.addDays(3), {}, now, {}};
        Pace pace{60, now.addSecs(3600), 1800, true, 60, now.addSecs(7200)};
        in.paces.insert(u"five_hour"_s, pace);
        const QString at = pace.runOutAt->toLocalTime().toString(u"HH:mm"_s);
        QCOMPARE(computePanelContent(in).mainLabels, QStringList{u"100 % AT "_s + at});
        QVERIFY(computePanelContent(in).ledLit(Led::fiveHour));
        in.now = now.addSecs(1);
        QVERIFY(!computePanelContent(in).ledLit(Led::fiveHour));
        in.isFetching = true;
        QVERIFY(computePanelContent(in).ledLit(Led::fiveHour));
        QVERIFY(panelTooltip(in, PanelArea::fiveHour)
                    .contains(u"at the pace of the last 30 min, 100 % at "_s + at + u", 1 h before the reset"_s));
        // The weekly window does not run out: its view keeps the countdown captions.
        in.state.alternateView = true;
        QCOMPARE(computePanelContent(in).mainLabels.size(), 3);
        // Nor does a pace that reaches 100 % only after the reset.
        in.state.alternateView = false;
        pace.beforeReset = false;
        in.paces.insert(u"five_hour"_s, pace);
        QCOMPARE(computePanelContent(in).mainLabels.size(), 3);
    }

    // Escape closes the History window alone, which opens again where it was, with fresh figures.
    void window()
    {
        int loads = 0;
        HistoryWindow window([&loads] {
            ++loads;
            return [] { return historySeries({}, {}, 200000, now); };
        });
        QVERIFY(!window.testAttribute(Qt::WA_QuitOnClose));
        QSignalSpy loaded(&window, &HistoryWindow::seriesChanged);
        window.open();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(loaded.size(), 1);
        window.move(120, 90);
        const QPoint where = window.pos();
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        window.open();
        QTRY_COMPARE(loaded.size(), 2);
        QCOMPARE(window.pos(), where);
        QCOMPARE(loads, 2);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestHistoryChart)
#include "tst_historychart.moc"
