#include "claudestatsreader.h"
#include "sessionrecords.h"
#include "statscycle.h"
#include "tst_statsfixture.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <limits>
#include <memory>

class TestStatsReader : public QObject
{
    Q_OBJECT

private slots:
    void contextPercent_data();
    void contextPercent();
    void sessionChoice_data();
    void sessionChoice();
    void newestTranscriptOnDisk();
    void noLiveSession();
    void publishesInOrderOnTheMainThread();
    void followsAGrowingTranscript();
    void destroyedReaderIsNeverTouched();
};

void TestStatsReader::contextPercent_data()
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    QTest::addColumn<SessionStats>("stats");
    QTest::addColumn<qint64>("percent");
    const auto stats = [](qint64 context, qint64 output, qint64 window) {
        return SessionStats{0, context, output, window, {}, {}, {}};
    };
    QTest::addRow("context plus output") << stats(150000, 10000, 200000) << qint64(80);
    QTest::addRow("capped at 100") << stats(250000, 0, 200000) << qint64(100);
    QTest::addRow("window of 0 or less") << stats(5000, 0, -10) << qint64(0);
    QTest::addRow("truncated") << stats(1999, 0, 200000) << qint64(0);
    QTest::addRow("no lower limit, truncated toward zero") << stats(-4999, 0, 200000) << qint64(-2);
    QTest::addRow("sum beyond 64 bits") << stats(max, max, max) << qint64(100);
    QTest::addRow("hundredfold beyond 64 bits") << stats(max / 2, 0, max) << qint64(49);
    QTest::addRow("just below the window") << stats(max - 2, 1, max) << qint64(99);
    QTest::addRow("negative beyond 64 bits") << stats(min, min, 1) << min;
    QTest::addRow("negative, hundredfold beyond 64 bits") << stats(min, min / 2, max) << qint64(-150);
    QTest::addRow("parts of opposite sign") << stats(max, min, 100) << qint64(-1);
}

void TestStatsReader::contextPercent()
{
    QFETCH(SessionStats, stats);
    QFETCH(qint64, percent);
    QCOMPARE(stats.contextPercent(), percent);
}

// Each listed session: its transcript time in minutes (-1 for none).
void TestStatsReader::sessionChoice_data()
{
    QTest::addColumn<QList<int>>("minutes");
    QTest::addColumn<qsizetype>("shown"); // -1 for none

    QTest::addRow("newest wins, listed last") << QList<int>{0, 5} << qsizetype(1);
    QTest::addRow("tie goes to the first listed") << QList<int>{5, 5} << qsizetype(0);
    QTest::addRow("undated then dated") << QList<int>{-1, 5} << qsizetype(1);
    QTest::addRow("dated then undated") << QList<int>{5, -1} << qsizetype(0);
    QTest::addRow("undated alone: the last listed") << QList<int>{-1, -1, -1} << qsizetype(2);
    QTest::addRow("none") << QList<int>{} << qsizetype(-1);
}

void TestStatsReader::sessionChoice()
{
    QFETCH(QList<int>, minutes);
    QFETCH(qsizetype, shown);
    QList<std::optional<FileTime>> times;
    for (const int minute : minutes)
        times.append(minute < 0 ? std::nullopt : std::optional<FileTime>(FileTime{600 + 60 * minute, 0}));
    QCOMPARE(chooseSession(times).value_or(-1), shown);
}

// Real files: times differing by a millisecond decide, whatever the listing order; only the
// chosen transcript is read whole, the others' last context comes from their tails.
void TestStatsReader::newestTranscriptOnDisk()
{
    StatsHome home;
    const qint64 live = QCoreApplication::applicationPid();
    const QDateTime ten = QDateTime(QDate(2025, 3, 1), QTime(10, 0), Qt::UTC);
    const ActiveSession older = session(live, QStringLiteral("older"), QStringLiteral("/a/b.c"));
    const ActiveSession newer = session(live, QStringLiteral("newer"), QStringLiteral("/x"));
    const ActiveSession missing = session(live, QStringLiteral("missing"), QStringLiteral("/x"));
    home.writeSession(QStringLiteral("1"), older);
    home.writeSession(QStringLiteral("2"), newer);
    home.writeSession(QStringLiteral("3"), missing);
    const QByteArray olderLines = usageLine("a", 30000, 10000) + usageLine("b", 90000, 0, 0, 0, "x", true);
    home.writeTranscript(older, olderLines + QByteArray(300 << 10, '\n'), ten.addMSecs(1));
    home.writeTranscript(newer, usageLine("b", 50, 2, 0, 0, "claude-opus-4-6"), ten.addMSecs(2));

    const StatsSnapshot snapshot = collectStats(home.claudeDir());
    QCOMPARE(snapshot.sessionStats, (SessionStats{52, 50, 2, 200000, QStringLiteral("newer"), QStringLiteral("/x"),
                                                  QStringLiteral("claude-opus-4-6")}));
    QCOMPARE(snapshot.bytesRead, QFileInfo(home.transcriptPath(newer)).size() + (256 << 10));
    for (const ActiveSession &listed : snapshot.activeSessions) {
        const std::optional<qint64> expected =
            listed.sessionId == QLatin1String("newer") ? std::optional<qint64>(0) : std::nullopt;
        QCOMPARE(listed.contextPercent, expected); // the older one's call lies beyond its tail
    }
    home.writeTranscript(older, olderLines, ten.addMSecs(1));
    for (const ActiveSession &listed : collectStats(home.claudeDir()).activeSessions) {
        if (listed.sessionId == QLatin1String("older"))
            QCOMPARE(listed.contextPercent, 20);
    }
}

void TestStatsReader::noLiveSession()
{
    StatsHome home;
    QVERIFY(!hasLiveSession(home.claudeDir()) && collectStats(home.claudeDir()).activeSessions.isEmpty());
    home.writeSession(QStringLiteral("gone"), session(exitedPid(), QStringLiteral("gone")));
    QVERIFY(!hasLiveSession(home.claudeDir()));
    const StatsSnapshot snapshot = collectStats(home.claudeDir());
    QVERIFY(snapshot.activeSessions.isEmpty());
    QCOMPARE(snapshot.sessionStats, SessionStats());
    home.writeSession(QStringLiteral("live"), session(QCoreApplication::applicationPid(), QStringLiteral("s")));
    QVERIFY(hasLiveSession(home.claudeDir()));
}

// activeSessions is assigned and announced before sessionStats, on the main thread, every cycle,
// whether or not anything changed.
void TestStatsReader::publishesInOrderOnTheMainThread()
{
    StatsHome home;
    ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    home.writeTranscript(live, usageLine("a", 100, 20));
    const SessionStats expected{120, 100, 20, 200000, live.sessionId, live.cwd, {}};
    live.contextPercent = 0;

    ClaudeStatsReader reader(home.claudeDir());
    QStringList events;
    connect(&reader, &ClaudeStatsReader::activeSessionsChanged, this, [&] {
        QVERIFY(QThread::currentThread() == qApp->thread());
        QCOMPARE(reader.activeSessions(), QList<ActiveSession>{live});
        // sessionStats is assigned second, so it still holds the previous cycle's value here.
        QCOMPARE(reader.sessionStats(), events.isEmpty() ? SessionStats() : expected);
        events.append(QStringLiteral("sessions"));
    });
    connect(&reader, &ClaudeStatsReader::sessionStatsChanged, this, [&] {
        QVERIFY(QThread::currentThread() == qApp->thread());
        QCOMPARE(reader.sessionStats(), expected);
        events.append(QStringLiteral("stats"));
    });

    QTRY_COMPARE(events.size(), 2);
    reader.refresh();
    reader.refresh(); // asked while a cycle runs: one more cycle follows it
    QTRY_COMPARE(events.size(), 6);
    QCOMPARE(events.join(u','), QStringLiteral("sessions,stats,sessions,stats,sessions,stats"));
}

// Appends to the shown transcript and a new subagent file show up without waiting for the
// one-minute cycle, read on from where the last cycle stopped.
void TestStatsReader::followsAGrowingTranscript()
{
    StatsHome home;
    const ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    home.writeTranscript(live, usageLine("a", 100, 20));
    ClaudeStatsReader reader(home.claudeDir());
    QTRY_COMPARE(reader.sessionStats().totalTokens, 120);

    QVERIFY(writeFile(home.transcriptPath(live), usageLine("b", 1000, 7), QIODevice::Append));
    QTRY_COMPARE(reader.sessionStats().lastContextTokens, 1000);
    QVERIFY(writeFile(home.subagentPath(live, QStringLiteral("x.jsonl")), usageLine("c", 5, 5)));
    QTRY_COMPARE(reader.sessionStats().totalTokens, 1137);
}

// A reader destroyed while its cycles run is never called back (the sanitizer build would catch
// a use after free), and the cycle stops without reading on.
void TestStatsReader::destroyedReaderIsNeverTouched()
{
    StatsHome home;
    const ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    home.writeTranscript(live, usageLine("a", 1, 1).repeated(20000));

    auto reader = std::make_unique<ClaudeStatsReader>(home.claudeDir());
    QSignalSpy spy(reader.get(), &ClaudeStatsReader::sessionStatsChanged);
    reader.reset();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::processEvents();
    QCOMPARE(spy.size(), 0);
}

QTEST_GUILESS_MAIN(TestStatsReader)
#include "tst_statsreader.moc"
