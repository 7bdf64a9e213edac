#include "claudestatsreader.h"
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
    void refreshesEveryMinute();
    void destroyedReaderIsNeverTouched();
};

void TestStatsReader::contextPercent_data()
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    QTest::addColumn<SessionStats>("stats");
    QTest::addColumn<qint64>("percent");
    QTest::addRow("context plus output") << SessionStats{0, 150000, 10000, 200000} << qint64(80);
    QTest::addRow("capped at 100") << SessionStats{0, 250000, 0, 200000} << qint64(100);
    QTest::addRow("window of 0") << SessionStats{0, 5000, 0, 0} << qint64(0);
    QTest::addRow("negative window") << SessionStats{0, 5000, 0, -10} << qint64(0);
    QTest::addRow("truncated") << SessionStats{0, 1999, 0, 200000} << qint64(0);
    QTest::addRow("no lower limit") << SessionStats{0, -4000, 0, 200000} << qint64(-2);
    QTest::addRow("huge counts do not overflow") << SessionStats{0, max, max, 200000} << qint64(100);
    QTest::addRow("huge window") << SessionStats{0, max / 2, 0, max} << qint64(49);
}

void TestStatsReader::contextPercent()
{
    QFETCH(SessionStats, stats);
    QFETCH(qint64, percent);
    QCOMPARE(stats.contextPercent(), percent);
}

// Each listed session: its transcript time in minutes (-1 for none). Each session's figures carry
// its index + 1 as totalTokens, so the result names the session shown.
void TestStatsReader::sessionChoice_data()
{
    QTest::addColumn<QList<int>>("minutes");
    QTest::addColumn<qint64>("shown");
    QTest::addColumn<QList<int>>("read");

    QTest::addRow("newest wins, listed last") << QList<int>{0, 5} << qint64(2) << QList<int>{0, 1};
    QTest::addRow("newest wins, listed first") << QList<int>{5, 0} << qint64(1) << QList<int>{0};
    QTest::addRow("tie goes to the first listed") << QList<int>{5, 5} << qint64(1) << QList<int>{0};
    QTest::addRow("undated then dated") << QList<int>{-1, 5} << qint64(2) << QList<int>{0, 1};
    QTest::addRow("dated then undated: undated never read") << QList<int>{5, -1} << qint64(1) << QList<int>{0};
    QTest::addRow("undated alone: the last listed") << QList<int>{-1, -1, -1} << qint64(3) << QList<int>{0, 1, 2};
    QTest::addRow("every new choice is read") << QList<int>{1, 3, 2, 7} << qint64(4) << QList<int>{0, 1, 3};
    QTest::addRow("none") << QList<int>{} << qint64(0) << QList<int>{};
}

void TestStatsReader::sessionChoice()
{
    QFETCH(QList<int>, minutes);
    QFETCH(qint64, shown);
    QFETCH(QList<int>, read);

    QList<ActiveSession> sessions;
    for (int i = 0; i < minutes.size(); ++i)
        sessions.append(session(1, QString::number(i)));
    QList<int> readIndexes;
    const SessionStats stats = chooseSessionStats(
        sessions,
        [&](const ActiveSession &s) -> std::optional<FileTime> {
            const int minute = minutes.at(s.sessionId.toInt());
            return minute < 0 ? std::nullopt : std::optional<FileTime>(FileTime{600 + 60 * minute, 0});
        },
        [&](const ActiveSession &s) {
            readIndexes.append(s.sessionId.toInt());
            return SessionStats{s.sessionId.toInt() + 1};
        });
    QCOMPARE(stats.totalTokens, shown);
    QCOMPARE(readIndexes, read);
}

// Real files: times differing by a millisecond decide, whatever the listing order.
void TestStatsReader::newestTranscriptOnDisk()
{
    StatsHome home;
    const qint64 live = QCoreApplication::applicationPid();
    const QDateTime ten = QDateTime(QDate(2025, 3, 1), QTime(10, 0), Qt::UTC);
    const ActiveSession older = session(live, QStringLiteral("older"), QStringLiteral("/a/b.c"));
    const ActiveSession newer = session(live, QStringLiteral("newer"), QStringLiteral("/x"));
    home.writeSession(QStringLiteral("1"), older);
    home.writeSession(QStringLiteral("2"), newer);
    home.writeTranscript(older, usageLine("a", 1, 1), ten.addMSecs(1));
    home.writeTranscript(newer, usageLine("b", 50, 2, 0, 0, "claude-opus-4"), ten.addMSecs(2));

    const StatsSnapshot snapshot = collectStats(home.claudeDir());
    QCOMPARE(snapshot.activeSessions.size(), 2);
    QCOMPARE(snapshot.sessionStats, (SessionStats{52, 50, 2, 200000}));
}

void TestStatsReader::noLiveSession()
{
    StatsHome home;
    home.writeSession(QStringLiteral("gone"), session(exitedPid(), QStringLiteral("gone")));
    const StatsSnapshot snapshot = collectStats(home.claudeDir());
    QVERIFY(snapshot.activeSessions.isEmpty());
    QCOMPARE(snapshot.sessionStats, SessionStats());
    QCOMPARE(snapshot.sessionStats.contextWindowSize, 200000);
}

// activeSessions is assigned and announced before sessionStats, on the main thread, every cycle,
// whether or not anything changed.
void TestStatsReader::publishesInOrderOnTheMainThread()
{
    StatsHome home;
    const ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    home.writeTranscript(live, usageLine("a", 100, 20));
    const SessionStats expected{120, 100, 20, 200000};

    ClaudeStatsReader reader(home.claudeDir());
    QCOMPARE(reader.claudeDir(), home.claudeDir());
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
    QTRY_COMPARE(events.size(), 4);
    QCOMPARE(events, (QStringList{"sessions", "stats", "sessions", "stats"}));
}

void TestStatsReader::refreshesEveryMinute()
{
    StatsHome home;
    ClaudeStatsReader reader(home.claudeDir());
    QVERIFY(reader.refreshTimer().isActive());
    QVERIFY(!reader.refreshTimer().isSingleShot());
    QCOMPARE(reader.refreshTimer().interval(), 60000);

    // The shipped constructor reads <home>/.claude; home is pointed at the fixture here.
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", QFileInfo(home.claudeDir()).path().toLocal8Bit());
    QCOMPARE(ClaudeStatsReader().claudeDir(), home.claudeDir());
    qputenv("HOME", realHome);

    QSignalSpy spy(&reader, &ClaudeStatsReader::sessionStatsChanged);
    QVERIFY(spy.wait());
}

// A reader destroyed while its cycles run is never called back (the sanitizer build would catch
// a use after free).
void TestStatsReader::destroyedReaderIsNeverTouched()
{
    StatsHome home;
    const ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    home.writeTranscript(live, usageLine("a", 1, 1).repeated(20000));

    auto reader = std::make_unique<ClaudeStatsReader>(home.claudeDir());
    reader->refresh();
    QSignalSpy spy(reader.get(), &ClaudeStatsReader::sessionStatsChanged);
    reader.reset();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::processEvents();
    QCOMPARE(spy.size(), 0);
}

QTEST_GUILESS_MAIN(TestStatsReader)
#include "tst_statsreader.moc"
