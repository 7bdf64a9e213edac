#include "claudestatsreader.h"
#include "panelposition.h"
#include "panelwindow.h"
#include "planusagefetcher.h"

#include <QAction>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPanelPosition : public QObject
{
    Q_OBJECT

private slots:
    void reopenedPosition_data()
    {
        QTest::addColumn<QString>("screen"); // the remembered screen's name
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("expected"); // (-1, -1): centred instead
        // A laptop screen with a top bar, and a second screen to its right.
        QTest::addRow("where it was") << "eDP-1" << QPoint(100, 200) << QSize(650, 185) << QPoint(100, 200);
        QTest::addRow("on the second screen, from its own corner")
            << "HDMI-1" << QPoint(100, 200) << QSize(650, 185) << QPoint(1380, 200);
        QTest::addRow("under the top bar, pushed below it") << "eDP-1" << QPoint(100, 0) << QSize(650, 185)
                                                           << QPoint(100, 32);
        QTest::addRow("past a screen that shrank, pushed back in")
            << "HDMI-1" << QPoint(1900, 1150) << QSize(650, 185) << QPoint(2550, 839);
        QTest::addRow("left of its screen, pushed right") << "HDMI-1" << QPoint(-400, 10) << QSize(650, 185)
                                                         << QPoint(1280, 10);
        QTest::addRow("larger than the screen, top-left corner inside")
            << "eDP-1" << QPoint(300, 300) << QSize(1300, 1500) << QPoint(0, 32);
        QTest::addRow("a screen that is gone") << "DP-3" << QPoint(100, 200) << QSize(650, 185) << QPoint(-1, -1);
    }
    void reopenedPosition()
    {
        QFETCH(QString, screen);
        QFETCH(QPoint, offset);
        QFETCH(QSize, size);
        QFETCH(QPoint, expected);
        const QList<ScreenArea> screens{
            {u"eDP-1"_s, QRect(0, 0, 1280, 800), QRect(0, 32, 1280, 768)},
            {u"HDMI-1"_s, QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1024)},
        };
        const std::optional<QPoint> position = ::reopenedPosition({screen, offset}, size, screens);
        QCOMPARE(position.value_or(QPoint(-1, -1)), expected);
        if (position) // what is remembered there brings it back to the same place
            QCOMPARE(::reopenedPosition(rememberedPosition(*std::find_if(screens.cbegin(), screens.cend(),
                                                                         [&](const ScreenArea &s) { return s.name == screen; }),
                                                           *position),
                                        size, screens),
                     position);
    }

    // Off by default, the panel centres at every launch; on, it reopens where it was left (here on
    // the offscreen screen, which has no name: an empty name is a name like any other).
    void rememberedAcrossLaunches()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(u"glimmerox.conf"_s), QSettings::IniFormat);
        ClaudeStatsReader reader(dir.filePath(u".claude"_s));
        PlanFetcherEnvironment environment = PlanFetcherEnvironment::system();
        environment.credentials = std::make_shared<FileCredentialStore>(dir.filePath(u"missing.json"_s));
        PlanUsageFetcher fetcher(environment);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint moved = area.topLeft() + QPoint(20, 30);
        QPoint centred;
        {
            PanelWindow panel(reader, fetcher, &settings);
            QVERIFY(!panel.rememberPositionAction()->isChecked());
            centred = panel.pos();
            panel.show();
            QVERIFY(QTest::qWaitForWindowExposed(&panel));
            panel.move(moved);
            QTRY_COMPARE(panel.pos(), moved);
        }
        {
            PanelWindow panel(reader, fetcher, &settings);
            QCOMPARE(panel.pos(), centred);
            panel.show();
            QVERIFY(QTest::qWaitForWindowExposed(&panel));
            panel.rememberPositionAction()->trigger();
            panel.move(moved);
            QTRY_COMPARE(panel.pos(), moved);
        }
        PanelWindow panel(reader, fetcher, &settings);
        QVERIFY(panel.rememberPositionAction()->isChecked());
        QCOMPARE(panel.pos(), moved);
    }
};

QTEST_MAIN(TestPanelPosition)
#include "tst_panelposition.moc"
