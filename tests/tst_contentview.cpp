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

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QDateTime clock = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
const QByteArray usageReport = R"({"five_hour":{"utilization":42.4,"resets_at":"2026-03-01T14:05:00Z"},)"
                               R"("seven_day":{"utilization":7,"resets_at":"2026-03-04T16:05:00Z"}})";

// A home with an empty data directory, a stand-in service and both sources pointed at them.
struct Fixture
{
    QTemporaryDir home;
    FakeService service;
    std::unique_ptr<ClaudeStatsReader> reader;
    std::unique_ptr<PlanUsageFetcher> fetcher;
    std::unique_ptr<ContentView> view;

    explicit Fixture(bool withToken)
    {
        const QString claudeDir = home.filePath(u".claude"_s);
        QDir().mkpath(claudeDir);
        if (withToken) {
            QFile file(claudeDir + u"/.credentials.json"_s);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(R"({"claudeAiOauth":{"accessToken":"access","refreshToken":"refresh",)"
                       R"("expiresAt":4102444800000}})");
        }
        service.setFallback(FakeService::Reply::json(usageReport));
        PlanFetcherEnvironment env = PlanFetcherEnvironment::system();
        env.usageURL = service.url(u"/api/oauth/usage"_s);
        env.tokenURL = service.url(u"/v1/oauth/token"_s);
        env.credentials = std::make_shared<FileCredentialStore>(claudeDir + u"/.credentials.json"_s);
        env.sleep = [](std::chrono::milliseconds, std::stop_token) {};
        reader = std::make_unique<ClaudeStatsReader>(claudeDir);
        fetcher = std::make_unique<PlanUsageFetcher>(env);
        view = std::make_unique<ContentView>(*reader, *fetcher);
        view->setClock([] { return clock; });
    }
};

// Counts the panel's repaints.
class CountingView : public ContentView
{
public:
    using ContentView::ContentView;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *event) override { ++paints, ContentView::paintEvent(event); }
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
    void repaintsOnEveryChange();
    void shortClickLeavesTheWindowInPlace();
};

void TestContentView::controls_data()
{
    QTest::addColumn<QStringList>("inputs"); // "mouse:K2", "press:K2>K1" (press, release elsewhere), "key:2", "a11y:OP"
    QTest::addColumn<bool>("plan");
    QTest::addColumn<bool>("alternate");

    QTest::addRow("nothing") << QStringList{} << false << false;
    QTest::addRow("K2 then OP") << QStringList{u"mouse:K2"_s, u"mouse:OP"_s} << true << true;
    QTest::addRow("OP twice") << QStringList{u"mouse:OP"_s, u"mouse:OP"_s} << false << false;
    QTest::addRow("7-DAY, K2, 5-HOUR, K1")
        << QStringList{u"mouse:7-DAY"_s, u"mouse:K2"_s, u"mouse:5-HOUR"_s, u"mouse:K1"_s} << false << false;
    QTest::addRow("body, window and ERROR are not keys")
        << QStringList{u"mouse:body"_s, u"mouse:window"_s, u"mouse:ERROR"_s} << false << false;
    QTest::addRow("press on K2, release on K1") << QStringList{u"mouse:K2>K1"_s} << false << false;
    QTest::addRow("keys 2 and O") << QStringList{u"key:2"_s, u"key:O"_s} << true << true;
    QTest::addRow("keys 7, 1") << QStringList{u"key:7"_s, u"key:1"_s} << false << true;
    QTest::addRow("keys 2, 7, 5") << QStringList{u"key:2"_s, u"key:7"_s, u"key:5"_s} << true << false;
    QTest::addRow("Ctrl+2 is not a key") << QStringList{u"key:^2"_s} << false << false;
    QTest::addRow("accessible press on K2 and OP") << QStringList{u"a11y:K2"_s, u"a11y:OP"_s} << true << true;
}

void TestContentView::controls()
{
    QFETCH(QStringList, inputs);
    QFETCH(bool, plan);
    QFETCH(bool, alternate);

    Fixture fixture(false);
    ContentView &view = *fixture.view;
    const PanelLayout &layout = view.layout();
    const QHash<QString, QRectF> areas{
        {u"K1"_s, layout.key(Key::k1).cap},          {u"K2"_s, layout.key(Key::k2).cap},
        {u"OP"_s, layout.key(Key::op).cap},          {u"5-HOUR"_s, layout.led(Led::fiveHour).item},
        {u"7-DAY"_s, layout.led(Led::sevenDay).item}, {u"ERROR"_s, layout.led(Led::error).item},
        {u"body"_s, QRectF(300, 170, 1, 1)},         {u"window"_s, layout.mainWindow},
    };
    const QHash<QString, PanelClick> clicks{{u"K1"_s, PanelClick::k1}, {u"K2"_s, PanelClick::k2}, {u"OP"_s, PanelClick::op}};
    for (const QString &input : inputs) {
        const QString kind = input.section(u':', 0, 0);
        const QString what = input.section(u':', 1);
        if (kind == u"key") {
            const bool control = what.startsWith(u'^');
            QTest::keyClick(&view, what.back().toLatin1(), control ? Qt::ControlModifier : Qt::NoModifier);
        } else if (kind == u"a11y") {
            QAccessibleInterface *button = QAccessible::queryAccessibleInterface(view.keyButton(clicks.value(what)));
            QVERIFY(button && button->actionInterface());
            QCOMPARE(button->text(QAccessible::Name), what);
            QVERIFY(button->text(QAccessible::Description).contains(u"Keyboard"_s));
            QSignalSpy clicked(view.keyButton(clicks.value(what)), &QAbstractButton::clicked);
            button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QVERIFY(clicked.count() == 1 || clicked.wait());
        } else {
            const QStringList ends = what.split(u'>');
            QTest::mousePress(&view, Qt::LeftButton, {}, areas.value(ends.first()).center().toPoint());
            QTest::mouseRelease(&view, Qt::LeftButton, {}, areas.value(ends.last()).center().toPoint());
        }
    }
    QCOMPARE(view.mode() == DisplayMode::plan, plan);
    QCOMPARE(view.alternateView(), alternate);
    // The accessible buttons report what the painted keys show.
    QCOMPARE(view.keyButton(PanelClick::k2)->isChecked(), plan);
    QCOMPARE(view.keyButton(PanelClick::op)->isChecked(), alternate);
}

// K2 fetches on every press, F5 fetches without changing the view; OP never fetches.
void TestContentView::keysFetch()
{
    Fixture fixture(true);
    ContentView &view = *fixture.view;
    view.clickK2();
    view.clickK2(); // while the first fetch may still run
    QTest::keyClick(&view, Qt::Key_F5);
    QCOMPARE(view.mode(), DisplayMode::plan);
    QTRY_COMPARE(fixture.service.requests().size(), 3);
    QTRY_VERIFY(fixture.fetcher->planUsage().has_value() && !fixture.fetcher->isFetching());
    QCOMPARE(view.content().mainText, u"00 02 05"_s);
    QCOMPARE(view.content().smallValue, u"42"_s);

    view.clickK1();
    QTest::keyClick(&view, Qt::Key_F5);
    QTRY_COMPARE(fixture.service.requests().size(), 4);
    QCOMPARE(view.mode(), DisplayMode::session);
    view.clickOP();
    QTest::qWait(0);
    QCOMPARE(fixture.service.requests().size(), 4);
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
    QCOMPARE(QToolTip::text(), failureText(*fixture.fetcher->lastFailure(), fixture.fetcher->credentialLocation()));
}

void TestContentView::repaintsOnEveryChange()
{
    Fixture fixture(false);
    CountingView view(*fixture.reader, *fixture.fetcher);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const char *signal : {"sessionStatsChanged", "activeSessionsChanged", "planUsageChanged", "isFetchingChanged",
                               "lastErrorChanged", "ticked"}) {
        QCoreApplication::processEvents(); // drain pending repaints, so the next one is the signal's own
        const int before = view.paints;
        const bool fromReader = QByteArray(signal).startsWith("session") || QByteArray(signal).startsWith("active");
        QObject *source = fromReader ? static_cast<QObject *>(fixture.reader.get()) : fixture.fetcher.get();
        QVERIFY(QMetaObject::invokeMethod(source, signal, Qt::DirectConnection));
        QCoreApplication::processEvents();
        QVERIFY2(view.paints > before, signal);
    }
}

// A press on the body that moves less than the drag distance is a click, not a move.
void TestContentView::shortClickLeavesTheWindowInPlace()
{
    Fixture fixture(false);
    PanelWindow window(*fixture.reader, *fixture.fetcher);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    const QPoint body(300, 170);
    const QPoint nudge(QApplication::startDragDistance() / 2, 0);
    QTest::mousePress(window.contentView(), Qt::LeftButton, {}, body);
    QTest::mouseMove(window.contentView(), body + nudge);
    QTest::mouseRelease(window.contentView(), Qt::LeftButton, {}, body + nudge);
    QTest::qWait(0);
    QCOMPARE(window.pos(), start);
}

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
