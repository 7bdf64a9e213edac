#include "palette.h"
#include "trayicon.h"

#include <QTest>

#include <numeric>

namespace {

bool near(const QColor &a, const QColor &b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= tolerance
        && std::abs(a.alpha() - b.alpha()) <= 40;
}

} // namespace

class TestTrayIcon : public QObject
{
    Q_OBJECT

private slots:
    void picture_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<qint64>("percent");
        for (int size : {16, 22, 24, 32}) {
            QTest::addRow("%d px, 7 %%", size) << size << qint64(7);
            QTest::addRow("%d px, 42 %%", size) << size << qint64(42);
            QTest::addRow("%d px, 80 %%, warning", size) << size << qint64(80);
            QTest::addRow("%d px, 100 %%, warning", size) << size << qint64(100);
        }
    }
    // At every tray size: a plate of its own to the edges, each digit drawn in the ink of its
    // look, large enough to be read, and never across the plate's rim.
    void picture()
    {
        QFETCH(int, size);
        QFETCH(qint64, percent);
        const QImage image = trayIconImage(percent, size);
        QCOMPARE(image.size(), QSize(size, size));
        const bool warning = percent >= trayWarningPercent;
        const QColor plate = warning ? Palette::ledRed : Palette::plate;
        const QColor ink = warning ? Palette::dispBg : Palette::ledRed;

        QVERIFY(image.pixelColor(0, 0).alpha() < 128); // rounded corners
        QVERIFY(near(image.pixelColor(size / 2, 1), plate));
        QVERIFY(near(image.pixelColor(size / 2, size - 2), plate));
        QList<QPoint> inked;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (near(image.pixelColor(x, y), ink, 120))
                    inked << QPoint(x, y);
        const QRect figure = std::accumulate(inked.cbegin(), inked.cend(), QRect(), [](QRect r, QPoint p) {
            return r.united(QRect(p, QSize(1, 1)));
        });
        // Inside the rim, at least half the plate high, and (two or three digits) most of it wide...
        const int digits = int(QString::number(percent).size());
        QVERIFY2(QRect(1, 1, size - 2, size - 2).contains(figure) && figure.height() * 2 >= size
                     && (digits == 1 || figure.width() * 10 >= size * 6),
                 qPrintable(u"%1x%2"_qs.arg(figure.width()).arg(figure.height())));
        // ...and each digit's share of that width carries ink.
        QList<int> perDigit(digits);
        for (QPoint p : inked)
            ++perDigit[(p.x() - figure.left()) * digits / figure.width()];
        QVERIFY(std::all_of(perDigit.cbegin(), perDigit.cend(), [](int n) { return n >= 3; }));
    }

    // The figure of the shown mode, or none.
    void figure()
    {
        PanelInputs shown;
        QCOMPARE(trayFigure(shown), std::nullopt); // no live session
        shown.activeSessions = {ActiveSession{}};
        shown.sessionStats.lastContextTokens = shown.sessionStats.contextWindowSize / 4;
        QCOMPARE(trayFigure(shown), std::optional<qint64>(25));
        shown.state.mode = DisplayMode::plan;
        QCOMPARE(trayFigure(shown), std::nullopt); // no report
        shown.planUsage = PlanUsage{};
        shown.planUsage->fiveHourUtilization = 61;
        shown.planUsage->weeklyUtilization = 83;
        QCOMPARE(trayFigure(shown), std::optional<qint64>(61));
        shown.state.alternateView = true;
        QCOMPARE(trayFigure(shown), std::optional<qint64>(83));
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
