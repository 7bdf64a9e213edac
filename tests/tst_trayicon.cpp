#include "palette.h"
#include "trayicon.h"

#include <QTest>

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
        const int digits = int(QString::number(percent).size());
        QList<int> inkPerDigit(digits), rows(size);
        int left = size, right = -1;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (near(image.pixelColor(x, y), ink, 120)) {
                    QVERIFY2(x > 0 && y > 0 && x < size - 1 && y < size - 1, qPrintable(u"ink at %1,%2"_qs.arg(x).arg(y)));
                    left = std::min(left, x);
                    right = std::max(right, x);
                    ++rows[y];
                }
        QVERIFY(right >= 0);
        // The figure spans most of the plate's width (or, alone, stands at least half its height)...
        const int tall = int(std::count_if(rows.cbegin(), rows.cend(), [](int n) { return n > 0; }));
        QVERIFY2(tall * 2 >= size && (digits == 1 || (right - left + 1) * 10 >= size * 6),
                 qPrintable(u"%1 rows, %2 columns"_qs.arg(tall).arg(right - left + 1)));
        // ...and each digit's share of it carries ink.
        for (int y = 0; y < size; ++y)
            for (int x = left; x <= right; ++x)
                if (near(image.pixelColor(x, y), ink, 120))
                    ++inkPerDigit[std::min(digits - 1, (x - left) * digits / (right - left + 1))];
        for (int count : inkPerDigit)
            QVERIFY(count >= 3);
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
