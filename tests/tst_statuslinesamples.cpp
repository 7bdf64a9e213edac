#include "historyrecord.h"
#include "privatefiles.h"
#include "samplehistory.h"
#include "samplestore.h"
#include "statuslinesample.h"
#include "statuslinesamples.h"
#include "windowrule.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
const QString home = u"/home/ana"_s;

// A payload as Claude Code writes it; `limits` is the rate_limits member's text, or nothing to leave it out.
QByteArray payload(const QByteArray &session, const QByteArray &limits = {},
                   const QByteArray &transcript = "/home/ana/.claude/projects/-home-ana-app/")
{
    QByteArray json = R"({"session_id":")" + session + R"(","transcript_path":")" + transcript + session
        + R"(.jsonl","cwd":"/home/ana/app","model":{"id":"claude-opus-4-6","display_name":"Opus 4.6"},)"
          R"("version":"2.1.90","context_window":{"context_window_size":1000000,"used_percentage":12.5,)"
          R"("current_usage":{"input_tokens":10,"output_tokens":2}},"cost":{"total_cost_usd":1.234})";
    if (!limits.isEmpty())
        json += R"(,"rate_limits":)" + limits;
    return json + '}';
}

StatusLineSample parsed(const QByteArray &json, const QDateTime &at = now, const QString &configDir = {})
{
    return parseStatusLinePayload(json, at, configDir, home).value();
}

// "5h 23 @1893456000 | 7d -" for the windows of a sample or of what a store keeps.
QString windows(const std::optional<PlanWindowSample> &fiveHour, const std::optional<PlanWindowSample> &sevenDay)
{
    const auto one = [](const std::optional<PlanWindowSample> &w) {
        if (!w)
            return u"-"_s;
        return QString::number(w->usedPercent)
            + (w->resetsAt ? u" @"_s + QString::number(w->resetsAt->toSecsSinceEpoch()) : QString());
    };
    return u"5h "_s + one(fiveHour) + u" | 7d "_s + one(sevenDay);
}

QString windows(const StatusLineSample &sample)
{
    return windows(sample.fiveHour, sample.sevenDay)
        + (sample.spend ? u" | spend "_s + QString::number(sample.spend->usedPercent) : QString());
}

} // namespace

class TestStatusLineSamples : public QObject
{
    Q_OBJECT

private slots:
    void payloads_data()
    {
        QTest::addColumn<QByteArray>("limits");
        QTest::addColumn<QString>("windows");
        QTest::addRow("no rate_limits (API key, or before the first reply)") << QByteArray() << u"5h - | 7d -"_s;
        QTest::addRow("both, integer and float")
            << QByteArray(R"({"five_hour":{"used_percentage":23,"resets_at":1893456000},)"
                          R"("seven_day":{"used_percentage":41.2,"resets_at":1893956000}})")
            << u"5h 23 @1893456000 | 7d 41.2 @1893956000"_s;
        QTest::addRow("five_hour only") << QByteArray(R"({"five_hour":{"used_percentage":0,"resets_at":1893456000}})")
                                        << u"5h 0 @1893456000 | 7d -"_s;
        QTest::addRow("seven_day only, fractional seconds")
            << QByteArray(R"({"seven_day":{"used_percentage":99.9,"resets_at":1893956000.5}})") << u"5h - | 7d 99.9 @1893956000"_s;
        QTest::addRow("null members") << QByteArray(R"({"five_hour":null,"seven_day":{"used_percentage":null,"resets_at":null}})")
                                      << u"5h - | 7d -"_s;
        QTest::addRow("null reset keeps the figure") << QByteArray(R"({"five_hour":{"used_percentage":5,"resets_at":null}})")
                                                     << u"5h 5 | 7d -"_s;
        QTest::addRow("spend limit past 100") << QByteArray(R"({"spend_limit":{"used_percentage":140.5}})")
                                              << u"5h - | 7d - | spend 140.5"_s;
    }
    void payloads()
    {
        QFETCH(QByteArray, limits);
        QFETCH(QString, windows);
        const StatusLineSample sample = parsed(payload("s1", limits));
        QCOMPARE(::windows(sample), windows);
        // What is stored reads back the same.
        QTemporaryDir runtime;
        const SampleStore store(runtime.filePath(u"glimmerox"_s));
        QVERIFY(store.record(sample, now).isEmpty());
        QCOMPARE(store.read(sample.session.dataDirectory)->spend, sample.spend);
        QCOMPARE(store.read(sample.session.dataDirectory)->sessions.value(0).costUsd, sample.session.costUsd);
        QCOMPARE(sample.session.sessionId, u"s1"_s);
        QCOMPARE(sample.session.contextWindowSize.value(), 1000000);
        QCOMPARE(sample.session.modelName, u"Opus 4.6"_s);
        QCOMPARE(sample.session.costUsd, 1.234);
        QCOMPARE(sample.session.receivedAt, now);
    }

    void unusablePayloads()
    {
        for (const QByteArray &bad : {QByteArray(), QByteArray("{\"session_id\":"), QByteArray("[1,2]"), QByteArray("\"x\""),
                                      QByteArray(payload("s1").chopped(1) + ",\"pad\":\"" + QByteArray(2 << 20, 'x') + "\"}")})
            QVERIFY2(!parseStatusLinePayload(bad, now, {}, home), bad.left(40).constData());
        // Members of the wrong type are left out, not fatal.
        const StatusLineSample odd = parsed(R"({"session_id":7,"model":"opus","context_window":{"context_window_size":null}})");
        QVERIFY(odd.session.sessionId.isEmpty());
        QVERIFY(!odd.session.contextWindowSize);
    }

    void dataDirectory_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QString>("configDir");
        QTest::addColumn<QString>("expected");
        QTest::addRow("above projects/") << u"/srv/work/.claude-b/projects/-srv-app/s.jsonl"_s << u"/elsewhere"_s
                                         << u"/srv/work/.claude-b"_s;
        QTest::addRow("no transcript: CLAUDE_CONFIG_DIR") << QString() << u"/srv/cfg/"_s << u"/srv/cfg"_s;
        QTest::addRow("no transcript, no variable: ~/.claude") << QString() << QString() << u"/home/ana/.claude"_s;
        QTest::addRow("transcript of another shape") << u"/tmp/s.jsonl"_s << QString() << u"/home/ana/.claude"_s;
        QTest::addRow("relative transcript") << u"projects/p/s.jsonl"_s << QString() << u"/home/ana/.claude"_s;
    }
    void dataDirectory()
    {
        QFETCH(QString, transcript);
        QFETCH(QString, configDir);
        QFETCH(QString, expected);
        QCOMPARE(payloadDataDirectory(transcript, configDir, home), expected);
    }

    void ownLine()
    {
        const QByteArray both = R"({"five_hour":{"used_percentage":23.4,"resets_at":)"
            + QByteArray::number(now.addSecs(2 * 3600 + 10 * 60 + 30).toSecsSinceEpoch())
            + R"(},"seven_day":{"used_percentage":41}})";
        QCOMPARE(statusLineText(parsed(payload("s1", both)), now), u"app \u00B7 ctx 13% \u00B7 5h 23% (2 h 10 m) \u00B7 7d 41%"_s);
        QCOMPARE(statusLineText(parsed(R"({"cwd":"/x/repo/"})"), now), u"repo"_s);
        // Figures past the limit, a name with control characters and a reset a year off.
        const QByteArray odd = "{\"cwd\":\"/x/re\\u001b[2Jpo\\n\",\"context_window\":{\"used_percentage\":140},"
                               "\"rate_limits\":{\"five_hour\":{\"used_percentage\":99.6,\"resets_at\":"
            + QByteArray::number(now.addDays(365).toSecsSinceEpoch()) + "}}}";
        QCOMPARE(statusLineText(parsed(odd), now), u"re[2Jpo \u00B7 ctx >100% \u00B7 5h 100%"_s);
    }

    void storeFilesNotFollowedAndAged()
    {
        QTemporaryDir runtime;
        const SampleStore store(runtime.filePath(u"glimmerox"_s));
        QVERIFY(store.record(parsed(payload("a")), now).isEmpty());
        // A link planted at a sample's place is neither read nor written through.
        const QString elsewhere = runtime.filePath(u"elsewhere.json"_s);
        QFile target(elsewhere);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("{\"sessions\":[]}") > 0);
        target.close();
        const QString file = store.fileFor(u"/home/ana/.claude"_s);
        QVERIFY(QFile::remove(file) && QFile::link(elsewhere, file));
        QVERIFY(!store.read(u"/home/ana/.claude"_s));
        QVERIFY(store.record(parsed(payload("b")), now).isEmpty());
        QVERIFY(!QFileInfo(file).isSymLink());
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), "{\"sessions\":[]}");
        // A data directory's file untouched for more than 7 days goes with the next write.
        const QString old = store.fileFor(u"/srv/old"_s);
        QVERIFY(store.record(parsed(payload("c", {}, "/srv/old/projects/p/")), now).isEmpty());
        QFile aged(old);
        QVERIFY(aged.open(QIODevice::ReadWrite));
        QVERIFY(aged.setFileTime(QDateTime::currentDateTimeUtc().addDays(-8), QFileDevice::FileModificationTime));
        aged.close();
        QVERIFY(store.record(parsed(payload("d")), QDateTime::currentDateTimeUtc()).isEmpty());
        QVERIFY(!QFile::exists(old));
        QVERIFY(QFile::exists(file));
    }

    void windowsKeptFromNewestCarrier()
    {
        const QByteArray first = R"({"five_hour":{"used_percentage":10,"resets_at":1893456000},)"
                                 R"("seven_day":{"used_percentage":40,"resets_at":1893956000}})";
        DataDirectorySamples kept = mergeSample({}, parsed(payload("a", first), now.addSecs(-60)), now);
        // Neither a payload without rate_limits nor one with the other window only clears a window.
        kept = mergeSample(kept, parsed(payload("b"), now.addSecs(-30)), now);
        kept = mergeSample(kept, parsed(payload("b", R"({"seven_day":{"used_percentage":42}})"), now.addSecs(-20)), now);
        QCOMPARE(windows(kept.fiveHour, kept.sevenDay), u"5h 10 @1893456000 | 7d 42"_s);
        // A sample that arrives late (an older receipt time) never replaces a newer window.
        kept = mergeSample(kept, parsed(payload("c", R"({"five_hour":{"used_percentage":90}})"), now.addSecs(-90)), now);
        QCOMPARE(windows(kept.fiveHour, kept.sevenDay), u"5h 10 @1893456000 | 7d 42"_s);
        QCOMPARE(kept.newestAt(), now.addSecs(-20));
        QCOMPARE(kept.sessions.size(), 3); // b once, with its newest sample
        QCOMPARE(kept.session(u"b"_s)->receivedAt, now.addSecs(-20));
    }

    // Stored and incoming figure as "percent@reset-in-minutes/received-minutes-ago" (reset "-" for none).
    void windowRule_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("incoming");
        QTest::addColumn<bool>("replaces");
        QTest::addRow("idle session lower, same window") << u"50@120/2"_s << u"30@121/0"_s << false;
        QTest::addRow("busy session higher, same window") << u"30@121/2"_s << u"50@120/0"_s << true;
        QTest::addRow("higher but received earlier") << u"30@121/0"_s << u"50@120/5"_s << true;
        QTest::addRow("later reset: a new window") << u"90@10/3"_s << u"4@300/0"_s << true;
        QTest::addRow("earlier reset, newer: another login") << u"40@300/3"_s << u"20@100/0"_s << true;
        QTest::addRow("other window, older") << u"40@300/0"_s << u"90@100/3"_s << false;
        QTest::addRow("reset passed: never replaces") << u"5@290/3"_s << u"95@-1/0"_s << false;
        QTest::addRow("stored reset passed") << u"95@-1/9"_s << u"2@299/20"_s << true;
        QTest::addRow("no reset: newest") << u"70@-/5"_s << u"20@-/0"_s << true;
        QTest::addRow("stored ahead of the clock, same window") << u"90@120/-120"_s << u"10@120/0"_s << true;
        QTest::addRow("stored ahead of the clock, no reset") << u"90@-/-120"_s << u"10@-/9"_s << true;
        QTest::addRow("incoming ahead of the clock") << u"10@120/0"_s << u"90@120/-120"_s << false;
        QTest::addRow("a minute ahead is still present") << u"10@-/0"_s << u"20@-/-1"_s << true;
    }

    void windowRule()
    {
        QFETCH(QString, stored);
        QFETCH(QString, incoming);
        const auto figure = [](const QString &text) {
            const QStringList parts = text.split(QRegularExpression(u"[@/]"_s));
            WindowFigure f{parts[0].toDouble(), std::nullopt, now.addSecs(-60 * parts[2].toLongLong())};
            if (parts[1] != u"-"_s)
                f.resetsAt = now.addSecs(60 * parts[1].toLongLong());
            return f;
        };
        QTEST(replacesFigure(figure(stored), figure(incoming), now), "replaces");
    }

    // Two sessions of one window, the window resetting during the test.
    void sessionsShareOneWindow()
    {
        const QDateTime resets = now.addSecs(600);
        const auto limits = [](int percent, const QDateTime &reset) {
            return R"({"five_hour":{"used_percentage":)" + QByteArray::number(percent) + R"(,"resets_at":)"
                + QByteArray::number(reset.toSecsSinceEpoch()) + "}}";
        };
        DataDirectorySamples kept = mergeSample({}, parsed(payload("busy", limits(50, resets)), now), now);
        const StatusLineSample idle = parsed(payload("idle", limits(30, resets)), now.addSecs(5));
        kept = mergeSample(kept, idle, now.addSecs(5));
        QCOMPARE(kept.fiveHour->usedPercent, 50);
        // The history takes the figure that stands, not the idle session's nor its ended window.
        QCOMPARE(sampleHistoryRecords(idle, kept).value(0).percent, 50);
        // After the reset the idle session still sends the old window; the new one's first figure wins.
        const QDateTime later = resets.addSecs(30);
        const StatusLineSample ended = parsed(payload("idle", limits(30, resets)), later);
        kept = mergeSample(kept, ended, later);
        QCOMPARE(kept.fiveHour->usedPercent, 50);
        QVERIFY(sampleHistoryRecords(ended, kept).isEmpty());
        QVERIFY(sampleHistoryRecords(ended, std::nullopt).isEmpty());
        kept = mergeSample(kept, parsed(payload("busy", limits(3, later.addSecs(5 * 3600))), later), later);
        QCOMPARE(kept.fiveHour->usedPercent, 3);
        // A session sample stamped while the clock was far ahead goes like an old one.
        kept = mergeSample(kept, parsed(payload("ahead"), later.addSecs(3600)), later);
        kept = mergeSample(kept, parsed(payload("busy"), later), later);
        QVERIFY(!kept.session(u"ahead"_s));
    }

    void sessionsBoundedAndAged()
    {
        DataDirectorySamples kept = mergeSample({}, parsed(payload("old"), now.addSecs(-sessionSampleSeconds - 1)), now);
        for (int i = 0; i < maxSessionSamples + 5; ++i)
            kept = mergeSample(kept, parsed(payload("s" + QByteArray::number(i)), now.addSecs(i - 100)), now);
        QCOMPARE(kept.sessions.size(), maxSessionSamples);
        QVERIFY(!kept.session(u"old"_s));
        QVERIFY(!kept.session(u"s4"_s)); // the oldest beyond the limit went
        QVERIFY(kept.session(u"s5"_s));
        QCOMPARE(kept.sessions.front().sessionId, u"s68"_s);
    }

    void storeKeepsDataDirectoriesApartAndPrivate()
    {
        QTemporaryDir runtime;
        const SampleStore store(runtime.filePath(u"glimmerox"_s));
        const QByteArray limitsA = R"({"five_hour":{"used_percentage":11}})";
        const QByteArray limitsB = R"({"five_hour":{"used_percentage":77}})";
        QCOMPARE(store.record(parsed(payload("a1", limitsA, "/home/ana/.claude/projects/p/")), now), QString());
        QCOMPARE(store.record(parsed(payload("b1", limitsB, "/srv/b/.claude/projects/p/")), now), QString());
        QCOMPARE(store.record(parsed(payload("a2", {}, "/home/ana/.claude/projects/q/")), now), QString());

        const DataDirectorySamples a = store.read(u"/home/ana/.claude/"_s).value();
        const DataDirectorySamples b = store.read(u"/srv/b/.claude"_s).value();
        QCOMPARE(a.sessions.size(), 2);
        QCOMPARE(a.fiveHour->usedPercent, 11.0);
        QCOMPARE(b.sessions.size(), 1);
        QCOMPARE(b.fiveHour->usedPercent, 77.0);
        QCOMPARE(store.readAll().size(), 2);

        QCOMPARE(filePermissions(store.folder()), 0700);
        QCOMPARE(filePermissions(store.fileFor(u"/srv/b/.claude"_s)), 0600);
    }

    void recentDataDirectories()
    {
        QTemporaryDir runtime;
        const SampleStore store(runtime.filePath(u"samples"_s));
        // Only data directories that are there count, whatever a sample file names.
        for (const char *name : {"recent", "old"})
            QVERIFY(QDir(runtime.path()).mkpath(QLatin1String(name) + u"/projects/p"_s));
        const auto at = [&runtime](const char *name) { return QFile::encodeName(runtime.filePath(QLatin1String(name))); };
        store.record(parsed(payload("a", {}, at("recent") + "/projects/p/"), now.addDays(-6)), now.addDays(-6));
        store.record(parsed(payload("b", {}, at("old") + "/projects/p/"), now.addDays(-8)), now.addDays(-8));
        store.record(parsed(payload("c", {}, "/srv/gone/projects/p/"), now.addDays(-1)), now.addDays(-1));
        QCOMPARE(sampleDataDirectories(store.folder(), now), QStringList{QString::fromUtf8(at("recent"))});
        QCOMPARE(sampleDataDirectories(runtime.filePath(u"missing"_s), now), QStringList());
    }

    void watcherPublishes()
    {
        QTemporaryDir runtime;
        const QString folder = runtime.filePath(u"glimmerox"_s);
        StatusLineSamples samples(folder);
        QVERIFY(samples.samples().isEmpty());
        QSignalSpy changed(&samples, &StatusLineSamples::samplesChanged);
        const QDateTime received = QDateTime::currentDateTimeUtc();
        SampleStore(folder).record(parsed(payload("s1", R"({"seven_day":{"used_percentage":3}})"), received), received);
        QVERIFY(changed.wait(1000));
        QCOMPARE(samples.forDataDirectory(u"/home/ana/.claude"_s)->sevenDay->usedPercent, 3.0);
        QVERIFY(!samples.forDataDirectory(u"/srv/other"_s));
    }
};

QTEST_GUILESS_MAIN(TestStatusLineSamples)
#include "tst_statuslinesamples.moc"
