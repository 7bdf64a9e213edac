#include "claudedatadir.h"
#include "claudestatsreader.h"
#include "sessionrecords.h"
#include "statscycle.h"
#include "tst_statsfixture.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <memory>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace {

// Two live sessions with their records: "a" in /home/ana/one and "b" in /home/ana/two.
std::pair<ActiveSession, ActiveSession> writeTwoLiveSessions(StatsHome &home)
{
    const qint64 live = QCoreApplication::applicationPid();
    const ActiveSession a = session(live, QStringLiteral("a"), QStringLiteral("/home/ana/one"));
    const ActiveSession b = session(live, QStringLiteral("b"), QStringLiteral("/home/ana/two"));
    home.writeSession(QStringLiteral("a"), a);
    home.writeSession(QStringLiteral("b"), b);
    return {a, b};
}

} // namespace

class TestStatsReader : public QObject
{
    Q_OBJECT

private slots:
    void contextPercent_data();
    void contextPercent();
    void sessionChoice_data();
    void sessionChoice();
    void newestTranscriptOnDisk();
    void otherSessionContext_data();
    void otherSessionContext();
    void knownDataDirectories_data();
    void knownDataDirectories();
    void sessionsOfSeveralDataDirectories();
    void sessionsShownInTurnCostTheirAppends();
    void keptStateFollowsChanges_data();
    void keptStateFollowsChanges();
    void noLiveSession();
    void publishesInOrderOnTheMainThread();
    void followsAGrowingTranscript();
    void showsADataDirectoryCreatedLater();
    void destroyedReaderIsNeverTouched_data();
    void destroyedReaderIsNeverTouched();
    void oneCycleAtATime();
};

void TestStatsReader::contextPercent_data()
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    QTest::addColumn<SessionStats>("stats");
    QTest::addColumn<qint64>("percent");
    const auto stats = [](qint64 context, qint64 output, qint64 window) {
        SessionStats stats;
        stats.lastContextTokens = context;
        stats.lastOutputTokens = output;
        stats.contextWindowSize = window;
        return stats;
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

// Real files: times differing by a millisecond decide, whatever the listing order.
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
    home.writeTranscript(older, usageLine("a", 30000, 10000), ten.addMSecs(1));
    home.writeTranscript(newer, usageLine("b", 50, 2, 0, 0, "claude-opus-4-6"), ten.addMSecs(2));

    const StatsSnapshot snapshot = collectStats({home.claudeDir()});
    QCOMPARE(snapshot.sessionStats, (SessionStats{52, 50, 2, 200000, QStringLiteral("newer"), QStringLiteral("/x"),
                                                  QStringLiteral("claude-opus-4-6"), home.claudeDir(), 1}));
    for (const ActiveSession &listed : snapshot.activeSessions) {
        const std::optional<qint64> expected = listed.sessionId == QLatin1String("newer") ? std::optional<qint64>(0)
            : listed.sessionId == QLatin1String("older")                                 ? std::optional<qint64>(20)
                                                                                         : std::nullopt;
        QCOMPARE(listed.contextPercent, expected);
    }
}

// Another live session's context comes from the end of its transcript, read backwards in
// growing pieces up to 4 MiB; an unfinished last line never counts.
void TestStatsReader::otherSessionContext_data()
{
    QTest::addColumn<QByteArray>("transcript");
    QTest::addColumn<std::optional<qint64>>("percent");
    const QByteArray call = usageLine("a", 30000, 10000);
    const auto user = [](qint64 bytes) { return "{\"type\":\"user\",\"t\":\"" + QByteArray(bytes, 'u') + "\"}\n"; };
    QTest::addRow("call last") << call << std::optional<qint64>(20);
    QTest::addRow("a call cut by the first piece") << call + user((64 << 10) - 300) << std::optional<qint64>(20);
    QTest::addRow("a 300 KiB user message after the call") << call + user(300 << 10) << std::optional<qint64>(20);
    QTest::addRow("a 3.9 MiB user message after the call") << call + user((4 << 20) - 100000) << std::optional<qint64>(20);
    QTest::addRow("call beyond 4 MiB") << call + user(4 << 20) << std::optional<qint64>();
    QTest::addRow("unfinished last line") << call + usageLine("b", 90000, 10000).chopped(1) << std::optional<qint64>(20);
    QTest::addRow("sidechain call only") << usageLine("a", 30000, 0, 0, 0, {}, true) << std::optional<qint64>();
}

void TestStatsReader::otherSessionContext()
{
    QFETCH(QByteArray, transcript);
    QFETCH(std::optional<qint64>, percent);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.jsonl"));
    QVERIFY(writeFile(path, transcript));
    TranscriptReadContext context;
    QCOMPARE(tailContextPercent(path, context), percent);
    QVERIFY(context.bytesRead <= transcript.size());
}

void TestStatsReader::knownDataDirectories_data()
{
    QTest::addColumn<QString>("configDir");
    QTest::addColumn<QStringList>("extras");
    QTest::addColumn<QStringList>("known"); // relative to the home directory
    QTest::addRow("home only") << QString() << QStringList() << QStringList{QStringLiteral("/.claude")};
    QTest::addRow("variable and extras in order")
        << QStringLiteral("/work") << QStringList{QStringLiteral("/extra"), QString()} << QStringList{QStringLiteral("/.claude"), QStringLiteral("/work"), QStringLiteral("/extra")};
    QTest::addRow("the same folder under other names")
        << QStringLiteral("/.claude/") << QStringList{QStringLiteral("/sub/../.claude"), QStringLiteral("/link"), QStringLiteral("/work"), QStringLiteral("/work/.")}
        << QStringList{QStringLiteral("/.claude"), QStringLiteral("/work")};
}

void TestStatsReader::knownDataDirectories()
{
    QFETCH(QString, configDir);
    QFETCH(QStringList, extras);
    QFETCH(QStringList, known);
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".claude")) && QFile::link(home.filePath(QStringLiteral(".claude")), home.filePath(QStringLiteral("link"))));
    const auto inHome = [&](const QString &path) { return path.isEmpty() ? path : home.path() + path; };
    QStringList extraPaths;
    for (const QString &extra : extras)
        extraPaths.append(inHome(extra));
    QStringList expected;
    for (const QString &path : known)
        expected.append(inHome(path));
    QCOMPARE(::knownDataDirectories(home.path(), inHome(configDir), extraPaths), expected);
}

// The sessions of two data directories side by side: all listed, the newest transcript of either
// shown, each carrying its directory.
void TestStatsReader::sessionsOfSeveralDataDirectories()
{
    StatsHome personal;
    StatsHome work;
    const qint64 live = QCoreApplication::applicationPid();
    const ActiveSession a = session(live, QStringLiteral("a"));
    const ActiveSession b = session(live, QStringLiteral("b"));
    personal.writeSession(QStringLiteral("a"), a);
    work.writeSession(QStringLiteral("b"), b);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    personal.writeTranscript(a, usageLine("x", 10, 1), now.addSecs(-60));
    work.writeTranscript(b, usageLine("y", 20, 2), now);

    const StatsSnapshot snapshot = collectStats({personal.claudeDir(), work.claudeDir()});
    QCOMPARE(snapshot.activeSessions.size(), 2);
    QCOMPARE(snapshot.activeSessions.at(0).claudeDir, personal.claudeDir());
    QCOMPARE(snapshot.activeSessions.at(1).claudeDir, work.claudeDir());
    QCOMPARE(snapshot.sessionStats.sessionId, QStringLiteral("b"));
    QCOMPARE(snapshot.sessionStats.claudeDir, work.claudeDir());
    QCOMPARE(snapshot.sessionStats.dataDirectoryCount, 2);
    QCOMPARE(snapshot.sessionStats.totalTokens, 22);
}

// Two live sessions written in turn, each shown while newest, cost only their appended bytes and
// the samples that check them, however long they are; so does a session whose folder Claude Code
// shortened, once found.
void TestStatsReader::sessionsShownInTurnCostTheirAppends()
{
    StatsHome home;
    const auto [a, b] = writeTwoLiveSessions(home);
    QByteArray lines;
    for (int i = 0; i < 2000; ++i)
        lines += usageLine("m" + QByteArray::number(i), 100, 10);
    home.writeTranscript(a, lines);
    const QString shortened = home.claudeDir() + QLatin1String("/projects/-home-ana-t-1a2b/b.jsonl");
    QVERIFY(writeFile(shortened, lines));

    StatsCache cache;
    QCOMPARE(collectStats({home.claudeDir()}, cache).sessionStats.totalTokens, 2000 * 110);
    QDateTime time = QDateTime::currentDateTimeUtc();
    for (int turn = 0; turn < 6; ++turn) {
        const ActiveSession &written = turn % 2 ? a : b;
        const QString path = turn % 2 ? home.transcriptPath(a) : shortened;
        const QByteArray appended = usageLine("n" + QByteArray::number(turn), 1000, turn);
        QVERIFY(writeFile(path, appended, QIODevice::Append));
        time = time.addSecs(1);
        QVERIFY(setModificationTime(path, time));
        const StatsSnapshot snapshot = collectStats({home.claudeDir()}, cache);
        QCOMPARE(snapshot.sessionStats.sessionId, written.sessionId);
        QCOMPARE(snapshot.sessionStats.lastOutputTokens, turn);
        if (turn >= 2) // each has been shown once since it was first read whole
            QVERIFY2(snapshot.bytesRead < appended.size() + (64 << 10), qPrintable(QString::number(snapshot.bytesRead)));
    }
}

// What a kept cache carries from cycle to cycle (where a transcript lies, another session's last
// context, a shown session's read progress) gives what a fresh read gives after each change,
// with the clock standing still so that no periodic search or full read hides a fault.
void TestStatsReader::keptStateFollowsChanges_data()
{
    QTest::addColumn<QString>("change");
    QTest::addRow("other session's transcript moved to another project folder") << QStringLiteral("moved");
    QTest::addRow("other session's last call rewritten, same size") << QStringLiteral("last call");
    QTest::addRow("kept session rewritten in the middle, same size, shown again") << QStringLiteral("middle");
}

void TestStatsReader::keptStateFollowsChanges()
{
    QFETCH(QString, change);
    StatsHome home;
    const auto [a, b] = writeTwoLiveSessions(home);
    // A session without a transcript keeps a search of projects/ on record: only a lost one redoes it.
    home.writeSession(QStringLiteral("c"),
                      session(QCoreApplication::applicationPid(), QStringLiteral("c"), QStringLiteral("/home/ana/three")));
    const QDateTime time = QDateTime::currentDateTimeUtc();
    home.writeTranscript(a, usageLine("x", 100, 10), time);
    // b lies in folders only a search finds, as when Claude Code shortened the name.
    const QString projects = home.claudeDir() + QLatin1String("/projects/");
    const QString bPath = projects + QLatin1String("-home-ana-t-1a2b/b.jsonl");
    QVERIFY(QDir().mkpath(projects + QLatin1String("-home-ana-t-9f9f")));
    QByteArray lines;
    for (int i = 0; i < 400; ++i)
        lines += usageLine("m" + QByteArray::number(i), 10000 + i, 10);
    QVERIFY(writeFile(bPath, lines + usageLine("last", 30000, 10000)));
    QVERIFY(setModificationTime(bPath, time.addSecs(1)));

    StatsCache cache;
    cache.clockMs = [] { return qint64(0); };
    QCOMPARE(collectStats({home.claudeDir()}, cache).sessionStats.sessionId, b.sessionId); // b read and kept
    QVERIFY(setModificationTime(home.transcriptPath(a), time.addSecs(2)));
    QCOMPARE(collectStats({home.claudeDir()}, cache).sessionStats.sessionId, a.sessionId); // b's tail read

    if (change == QLatin1String("moved")) {
        QVERIFY(QFile::rename(bPath, projects + QLatin1String("-home-ana-t-9f9f/b.jsonl")));
    } else if (change == QLatin1String("last call")) {
        QVERIFY(writeFile(bPath, lines + usageLine("last", 90000, 10000)));
        QVERIFY(setModificationTime(bPath, time.addSecs(1).addMSecs(500)));
    } else {
        QVERIFY(writeFile(bPath, QByteArray(lines).replace("\"input_tokens\":10200,", "\"input_tokens\":90200,")
                                     + usageLine("last", 30000, 10000)));
        QVERIFY(setModificationTime(bPath, time.addSecs(3)));
    }
    const StatsSnapshot kept = collectStats({home.claudeDir()}, cache);
    const StatsSnapshot fresh = collectStats({home.claudeDir()});
    QCOMPARE(kept.sessionStats, fresh.sessionStats);
    QCOMPARE(kept.activeSessions.size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        QCOMPARE(kept.activeSessions.at(i).contextPercent, fresh.activeSessions.at(i).contextPercent);
        QCOMPARE(fresh.activeSessions.at(i).contextPercent.has_value(), fresh.activeSessions.at(i).sessionId != u'c');
    }
}

void TestStatsReader::noLiveSession()
{
    StatsHome home;
    QVERIFY(collectStats({home.claudeDir()}).activeSessions.isEmpty());
    home.writeSession(QStringLiteral("gone"), session(exitedPid(), QStringLiteral("gone")));
    const StatsSnapshot snapshot = collectStats({home.claudeDir()});
    QVERIFY(snapshot.activeSessions.isEmpty());
    QCOMPARE(snapshot.sessionStats, SessionStats());
    home.writeSession(QStringLiteral("live"), session(QCoreApplication::applicationPid(), QStringLiteral("s")));
    QCOMPARE(findActiveSessions(home.claudeDir()).size(), 1);
}

// activeSessions is assigned and announced before sessionStats, on the main thread, every cycle,
// whether or not anything changed.
void TestStatsReader::publishesInOrderOnTheMainThread()
{
    StatsHome home;
    ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    home.writeTranscript(live, usageLine("a", 100, 20));
    const SessionStats expected{120, 100, 20, 200000, live.sessionId, live.cwd, {}, home.claudeDir(), 1};
    live.contextPercent = 0;
    live.claudeDir = home.claudeDir();

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

// A data directory that does not exist at launch is watched through its nearest existing parent,
// and so is the folder where a new session's transcript will appear: both show well before the
// one-minute cycle.
void TestStatsReader::showsADataDirectoryCreatedLater()
{
    StatsHome home;
    ClaudeStatsReader reader(home.claudeDir());
    QSignalSpy cycles(&reader, &ClaudeStatsReader::activeSessionsChanged);
    QVERIFY(cycles.wait());
    const ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    QTRY_COMPARE_WITH_TIMEOUT(reader.activeSessions().size(), 1, 3000);
    home.writeTranscript(live, usageLine("a", 100, 20));
    QTRY_COMPARE_WITH_TIMEOUT(reader.sessionStats().totalTokens, 120, 3000);
}

// A reader destroyed while its cycle runs, or with the cycle's result still queued, is never
// called back, and the cycle stops without reading on. The reader lives in storage the test
// keeps and fills with a pattern once the reader is destroyed, so a result handed back through a
// raw `this` without a context object writes into it or crashes on it in every build; the
// sanitizer job (scripts/test.sh --sanitize) runs this test too and reports such a use after
// destruction where it happens.
void TestStatsReader::destroyedReaderIsNeverTouched_data()
{
    QTest::addColumn<bool>("cycleDone");
    QTest::addRow("while the cycle runs") << false;
    QTest::addRow("with the result queued") << true;
}

void TestStatsReader::destroyedReaderIsNeverTouched()
{
    QFETCH(bool, cycleDone);
    StatsHome home;
    const ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("s"));
    home.writeSession(QStringLiteral("s"), live);
    home.writeTranscript(live, usageLine("a", 1, 1).repeated(cycleDone ? 1 : 20000));

    constexpr unsigned char pattern = 0xa5;
    alignas(ClaudeStatsReader) std::array<unsigned char, sizeof(ClaudeStatsReader)> storage;
    auto *reader = new (storage.data()) ClaudeStatsReader(home.claudeDir());
    QSignalSpy spy(reader, &ClaudeStatsReader::sessionStatsChanged);
    if (cycleDone)
        QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    reader->~ClaudeStatsReader();
    storage.fill(pattern);
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCOMPARE(spy.size(), 0);
    QVERIFY(std::all_of(storage.cbegin(), storage.cend(), [](unsigned char byte) { return byte == pattern; }));
}

// refresh() while a cycle runs never starts a second one beside it (they share one cache): it
// asks for one more cycle after it, however often it is called. The cycle runs below the
// priority of the main thread.
void TestStatsReader::oneCycleAtATime()
{
    QTemporaryDir home;
    QSemaphore release;
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    std::atomic<int> calls{0};
    std::atomic<int> cycleNice{0};
    ClaudeStatsReader reader(home.path(), {}, [&] {
        mostRunning = std::max(mostRunning.load(), ++running);
#ifdef Q_OS_LINUX // a nice value per thread
        cycleNice = ::getpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)));
#endif
        if (++calls == 1)
            release.tryAcquire(1, 10000); // holds the first cycle until the test lets it go
        --running;
        return QStringList();
    });
    QTRY_COMPARE(calls.load(), 1);
    for (int i = 0; i < 5; ++i)
        reader.refresh();
    release.release();
    QSignalSpy cycles(&reader, &ClaudeStatsReader::sessionStatsChanged);
    QTRY_COMPARE(cycles.size(), 2);
    QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
    QCoreApplication::processEvents();
    QCOMPARE(calls.load(), 2); // the first and the one asked for while it ran
    QCOMPARE(mostRunning.load(), 1);
#ifdef Q_OS_LINUX
    QVERIFY(cycleNice.load() > ::getpriority(PRIO_PROCESS, 0));
#endif
}

QTEST_GUILESS_MAIN(TestStatsReader)
#include "tst_statsreader.moc"
