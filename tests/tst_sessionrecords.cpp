#include "claudestatsreader.h"
#include "sessionrecords.h"
#include "tst_statsfixture.h"

#include <QCoreApplication>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

class TestSessionRecords : public QObject
{
    Q_OBJECT

private slots:
    void parseSessionRecord_data();
    void parseSessionRecord();
    void keepsLiveSessionsInListingOrder();
    void staleRecords_data();
    void staleRecords();
    void skipsWhatIsNotARecord();
    void endedSessionLeavesWithinSeconds();
};

void TestSessionRecords::parseSessionRecord_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<qint64>("startedAtMs");

    const auto record = [](const QByteArray &pid, const QByteArray &startedAt = "1733400000000") {
        return "{\"pid\":" + pid + ",\"sessionId\":\"s\",\"cwd\":\"/w\",\"startedAt\":" + startedAt
            + ",\"extra\":[1,{}]}";
    };
    QTest::addRow("plain record") << record("4242") << true << qint64(4242) << qint64(1733400000000);
    QTest::addRow("fractional milliseconds rounded") << record("7", "1733400000123.6") << true << qint64(7)
                                                     << qint64(1733400000124);
    QTest::addRow("integral pid in float notation") << record("4.2e1") << true << qint64(42) << qint64(1733400000000);
    QTest::addRow("huge startedAt held in range") << record("7", "1e300") << true << qint64(7) << qint64(8640000000000000);
    QTest::addRow("pid as digit string") << record("\"4242\"") << false << qint64(0) << qint64(0);
    QTest::addRow("fractional pid") << record("42.5") << false << qint64(0) << qint64(0);
    QTest::addRow("pid 0 addresses the process group") << record("0") << false << qint64(0) << qint64(0);
    QTest::addRow("negative pid") << record("-1") << false << qint64(0) << qint64(0);
    QTest::addRow("pid beyond 32 bits") << record("4294967297") << false << qint64(0) << qint64(0);
    QTest::addRow("startedAt as string") << record("7", "\"1733400000000\"") << false << qint64(0) << qint64(0);
    QTest::addRow("missing cwd") << QByteArray(R"({"pid":7,"sessionId":"s","startedAt":1})") << false << qint64(0)
                                 << qint64(0);
    QTest::addRow("numeric sessionId") << QByteArray(R"({"pid":7,"sessionId":5,"cwd":"/w","startedAt":1})")
                                       << false << qint64(0) << qint64(0);
    QTest::addRow("truncated") << record("7").chopped(1) << false << qint64(0) << qint64(0);
}

void TestSessionRecords::parseSessionRecord()
{
    QFETCH(QByteArray, record);
    QFETCH(bool, accepted);
    const std::optional<ActiveSession> session = ::parseSessionRecord(record);
    QCOMPARE(session.has_value(), accepted);
    if (!session)
        return;
    QFETCH(qint64, pid);
    QFETCH(qint64, startedAtMs);
    QCOMPARE(session->pid, pid);
    QCOMPARE(session->sessionId, QStringLiteral("s"));
    QCOMPARE(session->cwd, QStringLiteral("/w"));
    QCOMPARE(session->startedAt.toMSecsSinceEpoch(), startedAtMs);
    QCOMPARE(session->startedAt.timeSpec(), Qt::UTC);
}

void TestSessionRecords::keepsLiveSessionsInListingOrder()
{
    StatsHome home;
    const qint64 live = QCoreApplication::applicationPid();
    const qint64 dead = exitedPid();
    QVERIFY(dead > 0);
    home.writeSession(QStringLiteral("a"), session(live, QStringLiteral("a")));
    home.writeSession(QStringLiteral("b"), session(dead, QStringLiteral("b")));
    home.writeSession(QStringLiteral("c"), session(live, QStringLiteral("c")));
    home.writeSession(QStringLiteral("d"), session(live, QStringLiteral("a"))); // duplicates stay

    QStringList expected;
    for (const QString &name : QDir(home.sessionsDir()).entryList(QDir::Files, QDir::Unsorted)) {
        if (!name.startsWith(u'b'))
            expected.append(name.startsWith(u'd') ? QStringLiteral("a") : name.chopped(5));
    }
    QStringList found;
    for (const ActiveSession &session : findActiveSessions(home.claudeDir())) {
        QCOMPARE(session.pid, live);
        found.append(session.sessionId);
    }
    QCOMPARE(found, expected);
}

// A record is Claude Code's only if its process started no more than 60 s after the record was
// last written; otherwise the pid went to another process after a crash left the record.
void TestSessionRecords::staleRecords_data()
{
    QTest::addColumn<QString>("process"); // "running", "exited" (and reaped) or "zombie"
    QTest::addColumn<qint64>("ageSeconds"); // the record's modification time before now, 0 for as written
    QTest::addColumn<bool>("live");
    QTest::addRow("written after the process started") << "running" << qint64(0) << true;
    QTest::addRow("written 30 s before the process started") << "running" << qint64(30) << true;
    QTest::addRow("written an hour before the process started") << "running" << qint64(3600) << false;
    QTest::addRow("process exited") << "exited" << qint64(0) << false;
    QTest::addRow("process ended, not yet collected by its parent") << "zombie" << qint64(0) << false;
}

void TestSessionRecords::staleRecords()
{
    QFETCH(QString, process);
    QFETCH(qint64, ageSeconds);
    QFETCH(bool, live);
    qint64 pid = process == u"exited" ? exitedPid() : QCoreApplication::applicationPid();
    if (process == u"zombie" && (pid = ::fork()) == 0)
        ::_exit(0); // a child that ends at once, left uncollected until the check is done
    if (process == u"zombie")
        QTRY_VERIFY(ProcessProbe().status(pid).value_or(ProcessStatus()).zombie);
    StatsHome home;
    home.writeSession(QStringLiteral("r"), session(pid, QStringLiteral("r")));
    const QString record = home.sessionsDir() + QLatin1String("/r.json");
    if (ageSeconds > 0)
        QVERIFY(setModificationTime(record, QDateTime::currentDateTimeUtc().addSecs(-ageSeconds)));
    QCOMPARE(findActiveSessions(home.claudeDir()).size(), live ? 1 : 0);
    if (process == u"zombie")
        ::waitpid(pid_t(pid), nullptr, 0);
}

// Only regular files named *.json of at most 1 MiB are read; nothing else may block or count.
void TestSessionRecords::skipsWhatIsNotARecord()
{
    StatsHome home;
    const ActiveSession live = session(QCoreApplication::applicationPid(), QStringLiteral("live"));
    for (const char *name : {"a.json", "b.txt", "c.JSON", "d.json.bak", "json"})
        home.writeRecord(QLatin1String(name), recordJson(live));
    QVERIFY(makeFifo(home.sessionsDir() + QLatin1String("/fifo.json")));
    QVERIFY(QDir().mkpath(home.sessionsDir() + QLatin1String("/folder.json")));
    QVERIFY(QFile::link(home.sessionsDir() + QLatin1String("/fifo.json"),
                        home.sessionsDir() + QLatin1String("/link-to-fifo.json")));
    QByteArray large = "{\"pid\":" + QByteArray::number(live.pid)
        + ",\"sessionId\":\"large\",\"cwd\":\"/w\",\"startedAt\":1,\"pad\":\"";
    large += QByteArray(maxSessionRecordBytes, 'x') + "\"}";
    home.writeRecord(QStringLiteral("large.json"), large);
    QVERIFY(QFile::link(home.sessionsDir() + QLatin1String("/a.json"),
                        home.sessionsDir() + QLatin1String("/link-to-a.json")));

    ActiveSession expected = live;
    expected.claudeDir = home.claudeDir();
    const QList<ActiveSession> sessions = findActiveSessions(home.claudeDir());
    QCOMPARE(sessions.size(), 2); // a.json and the link to it
    QCOMPARE(sessions.first(), expected);
    QCOMPARE(sessions.last(), expected);
}

// A Claude Code killed without a chance to remove its record leaves the reader's list within
// 5 s, though nothing in the sessions folder changes and the full cycle is a minute away.
void TestSessionRecords::endedSessionLeavesWithinSeconds()
{
    QProcess claude;
    claude.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
    QVERIFY(claude.waitForStarted());
    StatsHome home;
    home.writeSession(QStringLiteral("k"), session(claude.processId(), QStringLiteral("k")));
    ClaudeStatsReader reader(home.claudeDir());
    QTRY_COMPARE(reader.activeSessions().size(), 1);

    claude.kill();
    QVERIFY(claude.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(reader.activeSessions().isEmpty(), 5000);
}

QTEST_GUILESS_MAIN(TestSessionRecords)
#include "tst_sessionrecords.moc"
