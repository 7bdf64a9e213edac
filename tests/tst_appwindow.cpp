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
    void frameAndPlacement();
    void actions();
    void dragFromTheBodyMovesTheWindow();
    void endingTheEventLoop_data();
    void endingTheEventLoop();
};

void TestAppWindow::frameAndPlacement()
{
    Sources sources;
    PanelWindow window(*sources.reader, *sources.fetcher);
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(window.minimumSize(), QSize(650, 185));
    QCOMPARE(window.maximumSize(), QSize(650, 185));
    QCOMPARE(window.contentView()->geometry(), QRect(0, 0, 650, 185));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(650, 185));
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY((window.frameGeometry().center() - screenCentre).manhattanLength() <= 1);
}

void TestAppWindow::actions()
{
    Sources sources;
    PanelWindow window(*sources.reader, *sources.fetcher);
    QCOMPARE(window.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QCOMPARE(window.hideAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    for (QAction *action : window.actions())
        QCOMPARE(action->shortcutContext(), Qt::WindowShortcut);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.hideAction()->trigger();
    QTRY_VERIFY(window.isMinimized() || !window.isVisible() || window.windowState() & Qt::WindowMinimized);
    window.bringToFrontAction()->trigger();
    QTRY_VERIFY(window.isVisible() && !window.isMinimized());
}

void TestAppWindow::dragFromTheBodyMovesTheWindow()
{
    Sources sources;
    PanelWindow window(*sources.reader, *sources.fetcher);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    ContentView *view = window.contentView();
    // The offscreen platform cannot move windows itself, so the panel moves along with the pointer.
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(300, 170));
    QTest::mouseMove(view, QPoint(340, 150));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(340, 150));
    QTRY_COMPARE(window.pos(), start + QPoint(40, -20));
    QCOMPARE(view->mode(), DisplayMode::session);
}

void TestAppWindow::endingTheEventLoop_data()
{
    QTest::addColumn<bool>("viaQuit");
    QTest::addRow("closing the panel") << false;
    QTest::addRow("Quit Glimmerox") << true;
}

void TestAppWindow::endingTheEventLoop()
{
    QFETCH(bool, viaQuit);
    Sources sources;
    PanelWindow window(*sources.reader, *sources.fetcher);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(runEventLoop([&] { viaQuit ? window.quitAction()->trigger() : void(window.close()); }), 0);
}

QTEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
