#include "claudestatsreader.h"
#include "contentview.h"
#include "fakeservice.h"
#include "panelposition.h"
#include "paneltooltip.h"
#include "panelwindow.h"
#include "planusagefetcher.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QDateTime clock = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
const QByteArray usageReport = R"({"five_hour":{"utilization":42.4,"resets_at":"2026-03-01T14:05:00Z"}})";

// A home with an empty data directory, a stand-in service and both sources pointed at them.
struct Fixture
{
    QTemporaryDir home;
    FakeService service;
    std::unique_ptr<ClaudeStatsReader> reader;
    std::unique_ptr<PlanUsageFetcher> fetcher;
    std::unique_ptr<ContentView> view;
    std::shared_ptr<std::atomic<qint64>> fetcherClock = std::make_shared<std::atomic<qint64>>(clock.toMSecsSinceEpoch());

    explicit Fixture(bool withToken)
    {
        const QString claudeDir = home.filePath(u".claude"_s);
        QDir().mkpath(claudeDir);
        if (QFile file(claudeDir + u"/.credentials.json"_s); withToken && file.open(QIODevice::WriteOnly))
            file.write(R"({"claudeAiOauth":{"accessToken":"access","refreshToken":"r","expiresAt":4102444800000}})");
        service.setFallback(FakeService::Reply::json(usageReport));
        PlanFetcherEnvironment env = PlanFetcherEnvironment::system();
        env.usageURL = service.url(u"/api/oauth/usage"_s);
        env.now = [ms = fetcherClock] { return QDateTime::fromMSecsSinceEpoch(ms->load(), Qt::UTC); };
        env.credentials = std::make_shared<FileCredentialStore>(claudeDir + u"/.credentials.json"_s);
        env.sleep = [](std::chrono::milliseconds, std::stop_token) {};
        reader = std::make_unique<ClaudeStatsReader>(claudeDir);
        fetcher = std::make_unique<PlanUsageFetcher>(env);
        view = std::make_unique<ContentView>(*reader, *fetcher);
        view->setClock([] { return clock; });
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

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void controls_data()
    {
        QTest::addColumn<QString>("inputs"); // "K2" a click, "K2>K1" press and release elsewhere, "key:2", "a11y:OP"
        QTest::addColumn<bool>("plan");
        QTest::addColumn<bool>("alternate");
        QTest::addRow("K2 then OP") << u"K2 OP"_s << true << true;
        QTest::addRow("7-DAY, K2, 5-HOUR, K1") << u"7-DAY K2 5-HOUR K1"_s << false << false;
        QTest::addRow("body, window and ERROR are not keys") << u"body window ERROR"_s << false << false;
        QTest::addRow("press on K2, release on K1") << u"K2>K1"_s << false << false;
        QTest::addRow("keys 2 and O") << u"key:2 key:O"_s << true << true;
        QTest::addRow("keys 7, 2, 5, 1") << u"key:7 key:2 key:5 key:1"_s << false << false;
        QTest::addRow("Ctrl+2 is not a key") << u"key:^2"_s << false << false;
        QTest::addRow("accessible press on K2 and OP") << u"a11y:K2 a11y:OP"_s << true << true;
    }
    void controls()
    {
        QFETCH(QString, inputs);
        QFETCH(bool, plan);
        QFETCH(bool, alternate);
        Fixture fixture(false);
        ContentView &view = *fixture.view;
        const PanelLayout &l = view.layout();
        const QHash<QString, QRectF> areas{{u"K1"_s, l.key(Key::k1).cap},   {u"K2"_s, l.key(Key::k2).cap},
                                           {u"OP"_s, l.key(Key::op).cap},   {u"5-HOUR"_s, l.led(Led::fiveHour).item},
                                           {u"ERROR"_s, l.led(Led::error).item}, {u"7-DAY"_s, l.led(Led::sevenDay).item},
                                           {u"body"_s, QRectF(300, 170, 1, 1)}, {u"window"_s, l.mainWindow}};
        const QHash<QString, PanelClick> clicks{{u"K2"_s, PanelClick::k2}, {u"OP"_s, PanelClick::op}};
        for (const QString &input : inputs.split(u' ', Qt::SkipEmptyParts)) {
            const QString what = input.section(u':', -1);
            if (input.startsWith(u"key:")) {
                QTest::keyClick(&view, what.back().toLatin1(), what.size() > 1 ? Qt::ControlModifier : Qt::NoModifier);
            } else if (input.startsWith(u"a11y:")) {
                QAccessibleInterface *button = QAccessible::queryAccessibleInterface(view.keyButton(clicks.value(what)));
                QVERIFY(button && button->actionInterface() && button->text(QAccessible::Name) == what
                        && button->text(QAccessible::Description).contains(u"Keyboard"_s));
                QSignalSpy clicked(view.keyButton(clicks.value(what)), &QAbstractButton::clicked);
                button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                QVERIFY(clicked.count() == 1 || clicked.wait());
            } else {
                QTest::mousePress(&view, Qt::LeftButton, {}, areas.value(what.section(u'>', 0, 0)).center().toPoint());
                QTest::mouseRelease(&view, Qt::LeftButton, {}, areas.value(what.section(u'>', -1)).center().toPoint());
            }
        }
        QCOMPARE(view.mode() == DisplayMode::plan, plan);
        QCOMPARE(view.alternateView(), alternate);
        // The accessible buttons report what the painted keys show.
        QCOMPARE(view.keyButton(PanelClick::k2)->isChecked(), plan);
        QCOMPARE(view.keyButton(PanelClick::op)->isChecked(), alternate);
    }

    // K2 and F5 fetch (the fetcher keeps manual fetches 30 s apart), never on a key's auto-repeat;
    // F5 leaves the view as it is; OP never fetches.
    void keysFetch()
    {
        Fixture fixture(true);
        ContentView &view = *fixture.view;
        const auto later = [&] { fixture.fetcherClock->fetch_add(31000); };
        // Within 30 s of a start a request starts nothing, and hands back the running fetch if any.
        const auto settled = [&] {
            const bool finished = fixture.fetcher->fetchUsage().isFinished();
            QCoreApplication::sendPostedEvents(); // the changes it queued
            return finished;
        };
        QTRY_VERIFY(fixture.service.requests().size() == 1 && settled()); // the fetch at launch
        later();
        view.clickK2();
        QCOMPARE(view.mode(), DisplayMode::plan);
        QTRY_VERIFY(fixture.service.requests().size() == 2 && settled());
        QCOMPARE(view.content().mainText + view.content().smallValue, u"00 02 0542"_s);
        later();
        for (const int key : {Qt::Key_F5, Qt::Key_2}) {
            QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(&view, &repeat);
        }
        // A fetch a repeat started would still be on its way: with the clock back at the last
        // start, asking starts nothing and hands back any fetch running, which is waited for.
        fixture.fetcherClock->fetch_sub(31000);
        QTRY_VERIFY(settled());
        QCOMPARE(fixture.service.requests().size(), 2);
        later();
        view.clickK1();
        QTest::keyClick(&view, Qt::Key_F5);
        QTRY_VERIFY(fixture.service.requests().size() == 3 && settled());
        QCOMPARE(view.mode(), DisplayMode::session);
        later();
        view.clickOP();
        QTest::qWait(0);
        QCOMPARE(fixture.service.requests().size(), 3); // OP never fetches
    }

    // No login: ERROR lights, the countdown is dashed, and hovering ERROR says why.
    void failureIsExplained()
    {
        Fixture fixture(false);
        ContentView &view = *fixture.view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.clickK2();
        QTRY_VERIFY(view.content().ledLit(Led::error));
        QVERIFY(fixture.service.requests().isEmpty());

        const QPoint errorLed = view.layout().led(Led::error).item.center().toPoint();
        QHelpEvent help(QEvent::ToolTip, errorLed, view.mapToGlobal(errorLed));
        QApplication::sendEvent(&view, &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY(fixture.fetcher->lastFailure().has_value());
        QVERIFY2(QToolTip::text().startsWith(failureText(*fixture.fetcher->lastFailure(), fixture.fetcher->credentialLocation())),
                 qPrintable(QToolTip::text()));
    }

    // ACTIVE, S and the project name step the pin through the live sessions and back to the latest;
    // the pin ends with its session.
    void pinFollowsClicksAndEnds()
    {
        Fixture fixture(false);
        ContentView &view = *fixture.view;
        const QString claudeDir = fixture.home.filePath(u".claude"_s);
        const qint64 pid = QCoreApplication::applicationPid();
        for (int i : {1, 2}) {
            QDir().mkpath(claudeDir + u"/sessions"_s);
            QFile record(claudeDir + u"/sessions/%1.json"_s.arg(i));
            QVERIFY(record.open(QIODevice::WriteOnly));
            record.write(QByteArray(R"({"pid":)") + QByteArray::number(pid) + R"(,"sessionId":"s)" + QByteArray::number(i)
                         + R"(","cwd":"/home/ana/p)" + QByteArray::number(i) + R"(","startedAt":)"
                         + QByteArray::number(1767000000000 + i) + "}");
        }
        fixture.reader->refresh();
        QTRY_COMPARE(fixture.reader->activeSessions().size(), 2);
        ClaudeStatsReader &reader = *fixture.reader;

        view.click(PanelClick::active);
        QCOMPARE(reader.pinnedSession(), u"s1"_s);
        QTRY_VERIFY(view.content().projectPinned && view.content().projectName == u"p1"_s);
        QVERIFY(view.keyButton(PanelClick::active)->isChecked());
        QTest::keyClick(&view, Qt::Key_S);
        QCOMPARE(reader.pinnedSession(), u"s2"_s);
        QTRY_COMPARE(view.content().projectName, u"p2"_s);
        const QPoint projectName = view.layout().projectName.center().toPoint();
        QTest::mouseClick(&view, Qt::LeftButton, {}, projectName);
        QCOMPARE(reader.pinnedSession(), QString()); // after the last one: the latest again
        view.clickK2();
        QTest::mouseClick(&view, Qt::LeftButton, {}, projectName); // blank in plan mode: not a key
        QCOMPARE(reader.pinnedSession(), QString());

        QTest::keyClick(&view, Qt::Key_S);
        QCOMPARE(reader.pinnedSession(), u"s1"_s);
        QVERIFY(QFile::remove(claudeDir + u"/sessions/1.json"_s));
        reader.refresh();
        QTRY_COMPARE(reader.pinnedSession(), QString());
    }

    // A size from the menu or the keys scales window, painting, keys and tooltip anchors, and is
    // remembered; the position is not.
    void sizeScalesTheWholePanel()
    {
        Fixture fixture(false);
        QTemporaryDir configDir;
        QSettings settings(configDir.filePath(u"glimmerox.conf"_s), QSettings::IniFormat);
        {
            PanelWindow window(*fixture.reader, *fixture.fetcher, &settings);
            QCOMPARE(window.size(), QSize(650, 185));
            const QList<QAction *> sizes = window.sizeMenu()->actions();
            sizes.at(2)->trigger(); // 150 %
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QCOMPARE(window.size(), QSize(975, 278));
            ContentView &view = *window.contentView();
            QCOMPARE(view.size(), window.size());
            const QRectF k2 = view.layout().key(Key::k2).cap;
            QCOMPARE(view.keyButton(PanelClick::k2)->geometry(),
                     QRectF(k2.topLeft() * 1.5, k2.size() * 1.5).toAlignedRect());
            QTest::mouseClick(&view, Qt::LeftButton, {}, (k2.center() * 1.5).toPoint());
            QCOMPARE(view.mode(), DisplayMode::plan);
            // The focus ring shows on the lit red key: pale pixels along its top edge.
            PanelKeyButton &lit = *view.keyButton(PanelClick::k2);
            window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            lit.setFocus(Qt::TabFocusReason);
            QVERIFY(lit.hasFocus());
            const QImage shot = view.grab().toImage();
            int pale = 0;
            for (int x = lit.geometry().left(); x <= lit.geometry().right(); ++x)
                pale += qGray(shot.pixel(x, lit.geometry().top() + 1)) > 180;
            QVERIFY(pale > lit.width() / 4);

            QTest::keyClick(&window, Qt::Key_Minus, Qt::ControlModifier);
            QCOMPARE(window.sizePercent(), 125);
            for (int i = 0; i < 4; ++i)
                QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
            QCOMPARE(window.sizePercent(), 200); // the largest stays the largest
            // Grown about its centre, it stays on the screen: its top-left corner at least.
            const QRect area = window.screen()->availableGeometry();
            QVERIFY(window.geometry().left() >= area.left() && window.geometry().top() >= area.top());
            QVERIFY(window.width() > area.width() || window.geometry().right() <= area.right());
            window.smallerAction()->trigger();
        }
        QCOMPARE(settings.value(u"panel/sizePercent"_s).toInt(), 150);
        PanelWindow again(*fixture.reader, *fixture.fetcher, &settings);
        QCOMPARE(again.size(), QSize(975, 278));
        QVERIFY(again.sizeMenu()->actions().at(2)->isChecked());
    }

    void reopenedPosition_data()
    {
        QTest::addColumn<QString>("screen"); // the remembered screen's name
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("expected"); // (-1, -1): centred instead
        const QSize panel(650, 185);
        QTest::addRow("where it was") << "eDP-1" << QPoint(100, 200) << panel << QPoint(100, 200);
        QTest::addRow("on the second screen, from its corner") << "HDMI-1" << QPoint(100, 200) << panel << QPoint(1380, 200);
        QTest::addRow("under the top bar") << "eDP-1" << QPoint(100, 0) << panel << QPoint(100, 32);
        QTest::addRow("past a screen that shrank") << "HDMI-1" << QPoint(1900, 1150) << panel << QPoint(2550, 839);
        QTest::addRow("larger than the screen") << "eDP-1" << QPoint(300, 300) << QSize(1300, 1500) << QPoint(0, 32);
        QTest::addRow("a screen that is gone") << "DP-3" << QPoint(100, 200) << panel << QPoint(-1, -1);
    }
    void reopenedPosition()
    {
        QFETCH(QString, screen);
        QFETCH(QPoint, offset);
        QFETCH(QSize, size);
        // A laptop screen with a top bar, and a second screen to its right.
        const QList<ScreenArea> screens{{u"eDP-1"_s, QRect(0, 0, 1280, 800), QRect(0, 32, 1280, 768)},
                                        {u"HDMI-1"_s, QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1024)}};
        QTEST(::reopenedPosition({screen, offset}, size, screens).value_or(QPoint(-1, -1)), "expected");
    }

    // Off by default, the panel centres at every launch; on, it reopens where it was left (on
    // the offscreen screen, which has no name: an empty name is a name like any other).
    void rememberPosition()
    {
        Fixture fixture(false);
        QTemporaryDir configDir;
        QSettings settings(configDir.filePath(u"glimmerox.conf"_s), QSettings::IniFormat);
        const QPoint moved = QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(20, 30);
        std::optional<QPoint> centred;
        for (const bool remember : {false, true}) {
            PanelWindow window(*fixture.reader, *fixture.fetcher, &settings);
            QCOMPARE(window.pos(), centred.value_or(window.pos()));
            centred = window.pos();
            QVERIFY(!window.rememberPositionAction()->isChecked());
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            if (remember)
                window.rememberPositionAction()->trigger();
            window.move(moved);
            QTRY_COMPARE(window.pos(), moved);
        }
        PanelWindow window(*fixture.reader, *fixture.fetcher, &settings);
        QVERIFY(window.rememberPositionAction()->isChecked());
        QCOMPARE(window.pos(), moved);
    }

    void frameAndPlacement()
    {
        Fixture fixture(false);
        PanelWindow window(*fixture.reader, *fixture.fetcher);
        QVERIFY(window.windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
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
        Fixture fixture(false);
        PanelWindow window(*fixture.reader, *fixture.fetcher);
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
        Fixture fixture(false);
        PanelWindow window(*fixture.reader, *fixture.fetcher);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(runEventLoop([&] { viaQuit ? window.quitAction()->trigger() : void(window.close()); }), 0);
    }

    // The panel draws no focus ring of its own, so Tab never rests on it unseen.
    void tabGoesRoundTheKeysOnly()
    {
        Fixture fixture(false);
        ContentView &view = *fixture.view;
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.setFocus(Qt::OtherFocusReason);
        QStringList visited;
        for (int i = 0; i < 7; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->accessibleName();
        }
        QCOMPARE(visited, QStringList({u"ACTIVE"_s, u"5-HOUR"_s, u"7-DAY"_s, u"K1"_s, u"K2"_s, u"OP"_s, u"ACTIVE"_s}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget()->accessibleName(), u"OP"_s);
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
