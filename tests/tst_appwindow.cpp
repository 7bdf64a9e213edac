#include "claudestatsreader.h"
#include "contentview.h"
#include "panelwindow.h"
#include "planusagefetcher.h"

#include <QAction>
#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Sources on an empty home, so nothing outside the test is read.
struct Sources
{
    QTemporaryDir home;
    std::unique_ptr<ClaudeStatsReader> reader;
    std::unique_ptr<PlanUsageFetcher> fetcher;

    Sources()
    {
        PlanFetcherEnvironment env = PlanFetcherEnvironment::system();
        env.credentials = std::make_shared<FileCredentialStore>(home.filePath(QStringLiteral(".claude/.credentials.json")));
        reader = std::make_unique<ClaudeStatsReader>(home.filePath(QStringLiteral(".claude")));
        fetcher = std::make_unique<PlanUsageFetcher>(env);
    }
};

// Runs the application's event loop until it is quit, or fails it after a generous limit.
int runEventLoop(const std::function<void()> &start)
{
    QTimer::singleShot(0, start);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    return QCoreApplication::exec();
}

} // namespace

class TestAppWindow : public QObject
{
    Q_OBJECT

private slots:
    void frameAndPlacement()
    {
        Sources sources;
        PanelWindow window(*sources.reader, *sources.fetcher);
        QVERIFY(window.windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.size(), QSize(650, 185));
        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY((window.frameGeometry().center() - screenCentre).manhattanLength() <= 1);
    }

    void pressOnTheBody_data()
    {
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<bool>("moves");
        QTest::addRow("a drag moves the window") << QPoint(40, -20) << true;
        QTest::addRow("a nudge within the drag distance is a click") << QPoint(QApplication::startDragDistance() / 2, 0)
                                                                     << false;
    }
    void pressOnTheBody()
    {
        QFETCH(QPoint, offset);
        QFETCH(bool, moves);
        Sources sources;
        PanelWindow window(*sources.reader, *sources.fetcher);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        ContentView *view = window.contentView();
        // The offscreen platform cannot move windows itself, so the panel moves along with the pointer.
        const QPoint body(300, 170);
        QTest::mousePress(view, Qt::LeftButton, {}, body);
        QTest::mouseMove(view, body + offset);
        QTest::mouseRelease(view, Qt::LeftButton, {}, body + offset);
        QTest::qWait(0);
        QTRY_COMPARE(window.pos(), moves ? start + offset : start);
        QCOMPARE(view->mode(), DisplayMode::session);
    }

    void endingTheEventLoop_data()
    {
        QTest::addColumn<bool>("viaQuit");
        QTest::addRow("closing the panel") << false;
        QTest::addRow("Quit Glimmerox") << true;
    }
    void endingTheEventLoop()
    {
        QFETCH(bool, viaQuit);
        Sources sources;
        PanelWindow window(*sources.reader, *sources.fetcher);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(runEventLoop([&] { viaQuit ? window.quitAction()->trigger() : void(window.close()); }), 0);
    }
};

QTEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
