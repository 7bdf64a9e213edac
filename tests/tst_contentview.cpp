#include "claudestatsreader.h"
#include "contentview.h"
#include "fakeservice.h"
#include "planusagefetcher.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
        const QString claudeDir = home.filePath(".claude");
        QDir().mkpath(claudeDir);
        if (withToken) {
            QFile file(claudeDir + "/.credentials.json");
            file.open(QIODevice::WriteOnly);
            file.write(R"({"claudeAiOauth":{"accessToken":"access","refreshToken":"refresh",)"
                       R"("expiresAt":4102444800000}})");
        }
        service.setFallback(FakeService::Reply::json(usageReport));
        PlanFetcherEnvironment env = PlanFetcherEnvironment::system();
        env.usageURL = service.url("/api/oauth/usage");
        env.tokenURL = service.url("/v1/oauth/token");
        env.credentials = std::make_shared<FileCredentialStore>(claudeDir + "/.credentials.json");
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
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        ContentView::paintEvent(event);
    }
};

QPoint centreOf(const QRectF &rect)
{
    return rect.center().toPoint();
}

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void mouseClicks_data();
    void mouseClicks();
    void k2FetchesOnEveryClick();
    void k2WithoutTokenShowsError();
    void repaintsOnEveryChange_data();
    void repaintsOnEveryChange();
};

void TestContentView::mouseClicks_data()
{
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<bool>("plan");
    QTest::addColumn<bool>("weekly");

    QTest::addRow("nothing pressed") << QStringList{} << false << false;
    QTest::addRow("K2") << QStringList{"K2"} << true << false;
    QTest::addRow("K2 then OP") << QStringList{"K2", "OP"} << true << true;
    QTest::addRow("OP twice") << QStringList{"OP", "OP"} << false << false;
    QTest::addRow("7-DAY in session mode, then K2") << QStringList{"7-DAY", "K2"} << true << true;
    QTest::addRow("7-DAY, K2, 5-HOUR, K1") << QStringList{"7-DAY", "K2", "5-HOUR", "K1"} << false << false;
    QTest::addRow("body and window are not keys") << QStringList{"body", "window", "ERROR"} << false << false;
    QTest::addRow("press on K2, release on K1") << QStringList{"K2>K1"} << false << false;
}

void TestContentView::mouseClicks()
{
    QFETCH(QStringList, presses);
    QFETCH(bool, plan);
    QFETCH(bool, weekly);

    Fixture fixture(false);
    ContentView &view = *fixture.view;
    const PanelLayout &layout = view.layout();
    const QHash<QString, QPoint> points{
        {"K1", centreOf(layout.key(Key::k1).cap)},
        {"K2", centreOf(layout.key(Key::k2).cap)},
        {"OP", centreOf(layout.key(Key::op).cap)},
        {"5-HOUR", centreOf(layout.led(Led::fiveHour).item)},
        {"7-DAY", centreOf(layout.led(Led::sevenDay).item)},
        {"ERROR", centreOf(layout.led(Led::error).item)},
        {"body", QPoint(300, 170)},
        {"window", centreOf(layout.mainWindow)},
    };
    for (const QString &press : presses) {
        const QStringList ends = press.split('>');
        QTest::mousePress(&view, Qt::LeftButton, {}, points.value(ends.first()));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, points.value(ends.last()));
    }
    QCOMPARE(view.mode() == DisplayMode::plan, plan);
    QCOMPARE(view.alternateView(), weekly);
}

void TestContentView::k2FetchesOnEveryClick()
{
    Fixture fixture(true);
    ContentView &view = *fixture.view;
    view.clickK2();
    view.clickK2(); // while the first fetch may still run
    QCOMPARE(view.mode(), DisplayMode::plan);
    QTRY_COMPARE(fixture.service.requests().size(), 2);
    QTRY_VERIFY(fixture.fetcher->planUsage().has_value() && !fixture.fetcher->isFetching());

    PanelContent content = view.content();
    QCOMPARE(content.mainText, QStringLiteral("00 02 05"));
    QCOMPARE(content.smallValue, QStringLiteral("42"));
    QVERIFY(!content.ledLit(Led::error));

    view.clickOP();
    content = view.content();
    QCOMPARE(content.mainText, QStringLiteral("03 04 05"));
    QCOMPARE(content.smallCaption, QStringLiteral("WEEKLY"));
    QCOMPARE(fixture.service.requests().size(), 2); // only "K2" fetches
}

void TestContentView::k2WithoutTokenShowsError()
{
    Fixture fixture(false);
    fixture.view->clickK2();
    QTRY_VERIFY(fixture.view->content().ledLit(Led::error));
    const PanelContent content = fixture.view->content();
    QCOMPARE(content.mainText, QStringLiteral("-- -- --"));
    QCOMPARE(content.smallValue, QStringLiteral("---"));
    QVERIFY(fixture.service.requests().isEmpty());
}

void TestContentView::repaintsOnEveryChange_data()
{
    QTest::addColumn<QString>("signal");
    for (const char *name : {"sessionStatsChanged", "activeSessionsChanged", "planUsageChanged", "isFetchingChanged",
                             "lastErrorChanged", "ticked"})
        QTest::addRow("%s", name) << QString::fromLatin1(name);
}

void TestContentView::repaintsOnEveryChange()
{
    QFETCH(QString, signal);
    Fixture fixture(false);
    CountingView view(*fixture.reader, *fixture.fetcher);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_VERIFY(view.paints > 0);
    // Drain pending repaints, so the one after the signal is the signal's own.
    QCoreApplication::processEvents();
    const int before = view.paints;
    QObject *source = signal.startsWith("session") || signal.startsWith("active")
        ? static_cast<QObject *>(fixture.reader.get())
        : static_cast<QObject *>(fixture.fetcher.get());
    QVERIFY(QMetaObject::invokeMethod(source, signal.toLatin1().constData(), Qt::DirectConnection));
    QCoreApplication::processEvents();
    QVERIFY(view.paints > before);
}

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
