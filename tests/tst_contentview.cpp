#include "claudestatsreader.h"
#include "contentview.h"
#include "fakeservice.h"
#include "paneltooltip.h"
#include "panelwindow.h"
#include "planusagefetcher.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
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

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void keysFetch();
    void failureIsExplained();
    void shortClickLeavesTheWindowInPlace();
};

void TestContentView::controls_data()
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

void TestContentView::controls()
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

// K2 and F5 fetch at most every 30 s and never on a key's auto-repeat; F5 leaves the view as
// it is; OP never fetches.
void TestContentView::keysFetch()
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
    // The fetch at launch comes first; a K2 right after it shows its outcome.
    QTRY_VERIFY(fixture.service.requests().size() == 1 && settled());
    view.clickK2();
    QCOMPARE(view.mode(), DisplayMode::plan);
    later();
    view.clickK2();
    view.clickK2(); // while the first press's fetch runs: no second request
    QTRY_VERIFY(settled());
    QTest::keyClick(&view, Qt::Key_F5);
    QCOMPARE(fixture.service.requests().size(), 2);
    later();
    for (const int key : {Qt::Key_F5, Qt::Key_2}) {
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(&view, &repeat);
    }
    QCOMPARE(fixture.service.requests().size(), 2);
    QTest::keyClick(&view, Qt::Key_F5);
    QTRY_VERIFY(fixture.service.requests().size() == 3 && settled());
    QCOMPARE(view.content().mainText + view.content().smallValue, u"00 02 0542"_s);

    view.clickK1();
    later();
    QTest::keyClick(&view, Qt::Key_F5);
    QTRY_VERIFY(fixture.service.requests().size() == 4 && settled());
    QCOMPARE(view.mode(), DisplayMode::session);
    later();
    view.clickOP();
    QTest::qWait(0);
    QCOMPARE(fixture.service.requests().size(), 4); // OP never fetches
}

// No login: ERROR lights, the countdown is dashed, and hovering ERROR says why.
void TestContentView::failureIsExplained()
{
    Fixture fixture(false);
    ContentView &view = *fixture.view;
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.clickK2();
    QTRY_VERIFY(view.content().ledLit(Led::error));
    QCOMPARE(view.content().mainText, u"-- -- --"_s);
    QVERIFY(fixture.service.requests().isEmpty());

    const QPoint errorLed = view.layout().led(Led::error).item.center().toPoint();
    QHelpEvent help(QEvent::ToolTip, errorLed, view.mapToGlobal(errorLed));
    QApplication::sendEvent(&view, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY(fixture.fetcher->lastFailure().has_value());
    QVERIFY2(QToolTip::text().startsWith(failureText(*fixture.fetcher->lastFailure(), fixture.fetcher->credentialLocation())),
             qPrintable(QToolTip::text()));
}

// A press on the body that moves less than the drag distance is a click, not a move.
void TestContentView::shortClickLeavesTheWindowInPlace()
{
    Fixture fixture(false);
    PanelWindow window(*fixture.reader, *fixture.fetcher);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    const QPoint body(300, 170), nudged = body + QPoint(QApplication::startDragDistance() / 2, 0);
    QTest::mousePress(window.contentView(), Qt::LeftButton, {}, body);
    QTest::mouseMove(window.contentView(), nudged);
    QTest::mouseRelease(window.contentView(), Qt::LeftButton, {}, nudged);
    QTest::qWait(0);
    QCOMPARE(window.pos(), start);
}

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
