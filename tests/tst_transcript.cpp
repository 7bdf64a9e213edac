#include "statscycle.h"
#include "transcriptaccounting.h"
#include "tst_statsfixture.h"

#include <QTest>

#include <limits>
#include <unistd.h>

char *toString(const UsageEntry &e)
{
    return QTest::toString(QStringLiteral("(in %1, out %2, create %3, read %4, \"%5\", sidechain %6)")
                               .arg(e.input).arg(e.output).arg(e.cacheCreate).arg(e.cacheRead).arg(e.model).arg(e.sidechain));
}

namespace {

constexpr qint64 maxCount = std::numeric_limits<qint64>::max();

QByteArray messageLine(const QByteArray &usage, const QByteArray &id = "\"m\"")
{
    return "{\"message\":{\"id\":" + id + ",\"usage\":" + usage + "}}\n";
}

QString s(const char *text) { return QString::fromUtf8(text); }

} // namespace

class TestTranscript : public QObject
{
    Q_OBJECT

private slots:
    void deduplicate_data();
    void deduplicate();
    void contextTimeline();
    void usageKeyAtEveryOffset();
    void appendedPiecesMatchFullRead();
    void rewriteBehindTheOffset_data();
    void rewriteBehindTheOffset();
    void samplesOfOneChunkMatchTheFile_data();
    void samplesOfOneChunkMatchTheFile();
    void readSessionTokens_data();
    void readSessionTokens();
    void findsTheTranscriptFolder_data();
    void findsTheTranscriptFolder();
    void nonRegularFilesAreNeverOpened();
    void manySubagentFiles_data();
    void manySubagentFiles();
};

void TestTranscript::deduplicate_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<UsageEntry>>("expected");

    QTest::addRow("same id merges at first position with last values")
        << usageLine("m1", 10, 5) + usageLine("m2", 20, 7, 0, 100, "claude-opus-4-6") + usageLine("m1", 10, 50)
        << QList<UsageEntry>{{10, 50, 0, 0, {}, false}, {20, 7, 0, 100, s("claude-opus-4-6"), false}};
    QTest::addRow("model and sidechain follow the last line of an id")
        << usageLine("m", 1, 1, 0, 0, "claude-sonnet-4-5") + usageLine("m", 1, 2, 0, 0, "claude-opus-4-6", true, "1.0.98")
        << QList<UsageEntry>{{1, 2, 0, 0, s("claude-opus-4-6"), true}};
    QTest::addRow("lines without id never merge")
        << usageLine({}, 3, 4) + usageLine({}, 3, 4)
        << QList<UsageEntry>{{3, 4, 0, 0, {}, false}, {3, 4, 0, 0, {}, false}};
    QTest::addRow("non-string ids never merge")
        << messageLine("{\"input_tokens\":1}", "7") + messageLine("{\"input_tokens\":1}", "7")
               + messageLine("{\"input_tokens\":1}", "null")
        << QList<UsageEntry>{{1, 0, 0, 0, {}, false}, {1, 0, 0, 0, {}, false}, {1, 0, 0, 0, {}, false}};
    QTest::addRow("lines shaped like Claude Code's that carry no call of the transcript")
        << linesWithoutTokens() << QList<UsageEntry>{{0, 0, 0, 0, s("<synthetic>"), false}};
    QTest::addRow("truncated last line skipped though its usage is complete")
        << usageLine("a", 1, 1) + "{\"message\":{\"id\":\"b\",\"usage\":{\"input_tokens\":9,\"output_tokens\":9}}"
        << QList<UsageEntry>{{1, 1, 0, 0, {}, false}};
    QTest::addRow("last line without line feed counts")
        << usageLine("a", 1, 1) + usageLine("b", 2, 2).chopped(1)
        << QList<UsageEntry>{{1, 1, 0, 0, {}, false}, {2, 2, 0, 0, {}, false}};
    QTest::addRow("invalid, empty and CRLF lines")
        << "\n\n{not json}\n" + usageLine("a", 1, 1).chopped(1) + "\r\n\r\n[1,2]\n\"usage\"\n"
        << QList<UsageEntry>{{1, 1, 0, 0, {}, false}};
    QTest::addRow("message and usage must be objects")
        << QByteArray("{\"usage\":{\"input_tokens\":1}}\n{\"message\":{\"usage\":[1]}}\n{\"message\":\"usage\"}\n"
                      "{\"message\":{\"id\":\"x\",\"usage\":null}}\n")
        << QList<UsageEntry>{};
    QTest::addRow("a repeated key: the last one wins")
        << QByteArray(R"({"message":{"id":"a","usage":{"input_tokens":1,"input_tokens":5},"id":"b"},"isSidechain":true,)"
                      R"("isSidechain":false})" "\n"
                      R"({"message":{"id":"b","usage":{"output_tokens":9}},"message":{"usage":{"output_tokens":2}}})" "\n")
        << QList<UsageEntry>{{5, 0, 0, 0, {}, false}, {0, 2, 0, 0, {}, false}};
    QTest::addRow("keys compared after unescaping")
        << QByteArray(R"({"m\u0065ssage":{"\u0069d":"k","\u0075sage":{"input_tokens":3}}})" "\n"
                      R"({"message":{"id":"k","us\u0061ge":{"output_\u0074okens":4}}})" "\n"
                      R"({"message":{"id":"j","usag\u0065":{"input_tokens":5}}})" "\n")
        << QList<UsageEntry>{{0, 4, 0, 0, {}, false}, {5, 0, 0, 0, {}, false}};
    QTest::addRow("integral numbers in any notation")
        << messageLine(R"({"input_tokens":10.0,"output_tokens":1e2,"cache_creation_input_tokens":-3,)"
                       R"("cache_read_input_tokens":2.5E1})")
        << QList<UsageEntry>{{10, 100, -3, 25, {}, false}};
    QTest::addRow("non-integral and mistyped values count as 0")
        << messageLine(R"({"input_tokens":10.5,"output_tokens":"10","cache_creation_input_tokens":true,)"
                       R"("cache_read_input_tokens":null})")
        << QList<UsageEntry>{{0, 0, 0, 0, {}, false}};
    QTest::addRow("values outside 64 bits count as 0, the rest stands")
        << messageLine(R"({"input_tokens":9223372036854775808,"output_tokens":1e19,)"
                       R"("cache_creation_input_tokens":123456789012345678901234567890,)"
                       R"("cache_read_input_tokens":7,"other":-1e400})")
               + messageLine(R"({"input_tokens":-9223372036854775808,"output_tokens":9223372036854775807})", "\"n\"")
        << QList<UsageEntry>{{0, 0, 0, 7, {}, false}, {std::numeric_limits<qint64>::min(), maxCount, 0, 0, {}, false}};
    QTest::addRow("huge numbers inside strings are left alone")
        << messageLine(R"({"input_tokens":2,"note":"123456789012345678901234567890"})")
               + "{\"message\":{\"usage\":{\"input_tokens\":1}},\"bad\":01234567890123456789012}\n"
               + "{\"message\":{\"usage\":{\"input_tokens\":1}},\"bad\":1e400e5}\n"
        << QList<UsageEntry>{{2, 0, 0, 0, {}, false}};
    QTest::addRow("non-string model is empty, non-bool sidechain is not one")
        << QByteArray("{\"isSidechain\":1,\"message\":{\"id\":\"a\",\"model\":42,\"usage\":{\"output_tokens\":1}}}\n")
        << QList<UsageEntry>{{0, 1, 0, 0, {}, false}};
    QByteArray manyModels;
    QList<UsageEntry> manyModelEntries;
    for (const int k : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 3, 0, 10}) { // past the few searched, then back
        const QByteArray model = "claude-" + QByteArray::number(k);
        manyModels += usageLine({}, 1, k, 0, 0, model);
        manyModelEntries.append({1, k, 0, 0, QString::fromLatin1(model), false});
    }
    QTest::addRow("every model of many keeps its name") << manyModels << manyModelEntries;
}

// Every line filter the processor runs gives the same entries.
void TestTranscript::deduplicate()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<UsageEntry>, expected);
    for (const LineFilter filter : supportedLineFilters())
        QCOMPARE(::deduplicate(data, filter), expected);
}

// Calls that carry context, with a timestamp, outside subagents; a broken time is left out.
void TestTranscript::contextTimeline()
{
    const auto line = [](const char *time, const char *usage, const char *more = "") {
        return QByteArray("{\"timestamp\":\"") + time + "\"" + more + ",\"message\":{\"model\":\"claude-opus-4-6\",\"usage\":"
            + usage + "}}\n";
    };
    const QByteArray data = line("2026-03-01T10:00:00.000Z", R"({"input_tokens":100,"cache_read_input_tokens":900})")
        + line("2026-03-01T10:01:00.000Z", R"({"input_tokens":5000})", R"(,"isSidechain":true)")
        + line("not a time", R"({"input_tokens":7})") + line("2026-03-01T10:02:00Z", R"({"output_tokens":9})")
        + "{\"timestamp\":\"2026-03-01T10:03:00Z\",\"type\":\"user\"}\n"
        + line("2026-03-01T11:30:00.500+01:00", R"({"input_tokens":1,"cache_creation_input_tokens":1999})");
    const QList<ContextPoint> expected{
        {QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC), 1000, s("claude-opus-4-6")},
        {QDateTime(QDate(2026, 3, 1), QTime(10, 30, 0, 500), Qt::UTC), 2000, s("claude-opus-4-6")}};
    QCOMPARE(::contextTimeline(data), expected);
}

// The line filters work in blocks: the key must be found wherever a block boundary falls.
void TestTranscript::usageKeyAtEveryOffset()
{
    for (const LineFilter filter : supportedLineFilters()) {
        for (int offset = 0; offset < 140; ++offset) {
            const QByteArray filler(offset, 'x');
            const QByteArray plain = "{\"f\":\"" + filler + "\",\"message\":{\"usage\":{\"input_tokens\":1}}}";
            const QByteArray escaped = "{\"f\":\"" + filler + "\",\"message\":{\"us\\u0061ge\":{\"input_tokens\":1}}}";
            const QByteArray decoy = "{\"f\":\"" + filler + "usage\\u0067\",\"message\":{\"usag\":{}}}";
            QCOMPARE(::deduplicate(plain, filter).size(), 1);
            QCOMPARE(::deduplicate(escaped, filter).size(), 1);
            QCOMPARE(::deduplicate(decoy, filter).size(), 0);
        }
    }
}

// A transcript read on as it grows, in pieces cut anywhere (inside a line, a line longer than a
// read chunk, a complete line still without its line feed), gives what a full read gives at
// every point; so does one rewritten in place, shortened or replaced.
void TestTranscript::appendedPiecesMatchFullRead()
{
    QByteArray data;
    for (int i = 0; data.size() < 3 << 20; ++i) {
        data += usageLine("m" + QByteArray::number(i % 500), i % 7, i, 0, i % 3, "claude-haiku-4-5", i % 5 == 0);
        data += "{\"type\":\"user\",\"text\":\"" + QByteArray(i % 9000, 'y') + "\"}\n";
    }
    data += "{\"message\":{\"big\":\"" + QByteArray(5 << 20, 'z') + "\",\"usage\":{\"input_tokens\":11}}}\n";
    data += usageLine("tail", 3, 4) + usageLine({}, 1, 2);
    const qsizetype split = data.lastIndexOf("{\"type\":\"user\"") + 30;
    const QList<qsizetype> cuts{1000, split, split + 10, data.size() - 200, data.size() - 1, data.size()};

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.jsonl"));
    TranscriptProgress progress;
    TranscriptReadContext context;
    qsizetype written = 0;
    for (const qsizetype cut : cuts) {
        QVERIFY(writeFile(path, data.mid(written, cut - written), QIODevice::Append));
        written = cut;
        QCOMPARE(progress.update(path, context), TranscriptProgress::Result::read);
        QCOMPARE(progress.ledger().entries(), ::deduplicate(data.first(cut)));
    }
    // Only unfinished lines are read again, besides the 4 KiB samples that check the kept offset.
    QVERIFY(context.bytesRead < data.size() + 24000 + cuts.size() * 3 * 4096);

    // Rewritten in place at the same size, shortened in place, replaced by another file.
    const QList<QByteArray> rewrites{QByteArray(data).replace("\"m1\"", "\"m2\""), data.first(split),
                                     usageLine("new", 9, 9)};
    for (qsizetype i = 0; i < rewrites.size(); ++i) {
        const QString target = i == 2 ? path + QLatin1String(".new") : path;
        QVERIFY(writeFile(target, rewrites[i]));
        QVERIFY(setModificationTime(target, QDateTime::currentDateTimeUtc().addSecs(10 + i)));
        if (i == 2)
            QVERIFY(QFile::remove(path) && QFile::rename(target, path));
        QCOMPARE(progress.update(path, context), TranscriptProgress::Result::read);
        QCOMPARE(progress.ledger().entries(), ::deduplicate(rewrites[i]));
    }
}

// Rewrites that keep the inode and the last bytes before the offset: the samples of the first
// 4 KiB and of the 4 KiB before the offset tell them at once; one that keeps those too (and the
// size and time) is caught by the full read every ten minutes.
void TestTranscript::rewriteBehindTheOffset_data()
{
    QTest::addColumn<QByteArray>("rewritten");
    QTest::addColumn<bool>("statusPutBack"); // same size, modification time restored

    QByteArray before;
    for (int i = 0; i < 400; ++i)
        before += usageLine("m" + QByteArray::number(i), 10 + i, 1);
    const QByteArray grown = usageLine("new", 5, 5);
    const auto changed = [&](const char *from, const char *to) { return QByteArray(before).replace(from, to); };
    QTest::addRow("first line changed, then grown") << changed("\"input_tokens\":10,", "\"input_tokens\":90,") + grown
                                                    << false;
    QTest::addRow("regrown with the 64 bytes before the offset alike")
        << changed("\"input_tokens\":409,", "\"input_tokens\":901,") + grown << false;
    QTest::addRow("middle changed, size and time put back")
        << changed("\"input_tokens\":210,", "\"input_tokens\":912,") << true;
}

void TestTranscript::rewriteBehindTheOffset()
{
    QFETCH(QByteArray, rewritten);
    QFETCH(bool, statusPutBack);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.jsonl"));
    QByteArray before;
    for (int i = 0; i < 400; ++i)
        before += usageLine("m" + QByteArray::number(i), 10 + i, 1);
    QVERIFY(writeFile(path, before));
    TranscriptProgress progress;
    TranscriptReadContext context;
    context.clockMs = 0;
    QCOMPARE(progress.update(path, context), TranscriptProgress::Result::read);
    const FileTime written = fileStatus(path)->modified;

    QVERIFY(writeFile(path, rewritten)); // truncated and written again: the same inode
    if (statusPutBack) {
        const timespec times[2] = {{time_t(written.seconds), long(written.nanoseconds)},
                                   {time_t(written.seconds), long(written.nanoseconds)}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }
    context.clockMs = 9 * 60000;
    QCOMPARE(progress.update(path, context), TranscriptProgress::Result::read);
    if (!statusPutBack)
        QCOMPARE(progress.ledger().entries(), ::deduplicate(rewritten));
    context.clockMs = 10 * 60000;
    QCOMPARE(progress.update(path, context), TranscriptProgress::Result::read);
    QCOMPARE(progress.ledger().entries(), ::deduplicate(rewritten));
}

// A read that one chunk held takes its rewrite samples from the bytes in memory; the next read
// takes them from the file. Were they to differ, every cycle would read the file whole again.
void TestTranscript::samplesOfOneChunkMatchTheFile_data()
{
    QTest::addColumn<int>("appended");
    QTest::addRow("appends under 4 KiB") << 500;
    QTest::addRow("appends over 4 KiB: the later sample from memory too") << 9000;
}

void TestTranscript::samplesOfOneChunkMatchTheFile()
{
    QFETCH(int, appended);
    const auto lines = [](int count, int from) {
        QByteArray text;
        for (int i = from; text.size() < count; ++i)
            text += usageLine("m" + QByteArray::number(i), i, 1) + "{\"type\":\"user\",\"text\":\"" + QByteArray(i % 90, 'y') + "\"}\n";
        return text;
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.jsonl"));
    QByteArray data = lines(20000, 0);
    QVERIFY(writeFile(path, data));
    TranscriptProgress progress;
    TranscriptReadContext context;
    QCOMPARE(progress.update(path, context), TranscriptProgress::Result::read);
    for (int round = 1; round <= 2; ++round) {
        const QByteArray piece = lines(appended, round * 1000);
        QVERIFY(writeFile(path, piece, QIODevice::Append));
        data += piece;
        const qint64 before = context.bytesRead;
        QCOMPARE(progress.update(path, context), TranscriptProgress::Result::read);
        QCOMPARE(progress.ledger().entries(), ::deduplicate(data));
        // The piece and at most three 4 KiB samples; a read from the start would take 20,000 more.
        QVERIFY2(context.bytesRead - before <= piece.size() + 3 * 4096, qPrintable(QString::number(context.bytesRead - before)));
    }
}

void TestTranscript::readSessionTokens_data()
{
    QTest::addColumn<QByteArray>("transcript"); // "-" leaves the main transcript out
    QTest::addColumn<QByteArray>("subagent");   // in <session>/subagents/a.jsonl
    QTest::addColumn<QByteArray>("agentFile");  // beside the transcript as agent-x.jsonl, as 2.0.x writes
    QTest::addColumn<SessionStats>("expected");

    const QByteArray opus = "claude-opus-4-6";
    const auto stats = [](qint64 total, qint64 context, qint64 output, qint64 window, const char *model) {
        return SessionStats{total, context, output, window, QStringLiteral("s1"), QStringLiteral("/home/ana/my_repo"),
                            QString::fromUtf8(model), {}, 0};
    };
    QTest::addRow("three lines of the worked example")
        << usageLine("m1", 10, 5) + usageLine("m2", 20, 7, 0, 100, opus) + usageLine("m1", 10, 50) << QByteArray()
        << QByteArray() << stats(187, 120, 7, 200000, "claude-opus-4-6");
    QTest::addRow("output-only and synthetic last entries add to total only")
        << usageLine("a", 100, 5, 10, 1000, opus) + usageLine("b", 0, 30) + linesWithoutTokens() << QByteArray()
        << QByteArray() << stats(1145, 1110, 5, 200000, "claude-opus-4-6");
    QTest::addRow("sidechain lines of 1.0.x count in the total only")
        << usageLine("a", 16000, 750, 0, 0, opus, false, "1.0.98") + usageLine("b", 40000, 1160, 0, 0, "x", true)
        << QByteArray() << QByteArray() << stats(57910, 16000, 750, 200000, "claude-opus-4-6");
    QTest::addRow("a [1m] model has the million window")
        << usageLine("a", 5, 1, 0, 0, "claude-sonnet-4-5") + usageLine("b", 5, 5, 0, 0, "Claude-Opus-4-6[1M]")
        << QByteArray() << QByteArray() << stats(16, 5, 5, 1000000, "Claude-Opus-4-6[1M]");
    QTest::addRow("over 200k proves the million window")
        << usageLine("a", 3, 1, 0, 199997, opus) << QByteArray() << QByteArray()
        << stats(200001, 200000, 1, 1000000, "claude-opus-4-6");
    QTest::addRow("exactly 200k still fits the standard window")
        << usageLine("a", 3, 1, 0, 199996, opus) << QByteArray() << QByteArray()
        << stats(200000, 199999, 1, 200000, "claude-opus-4-6");
    QTest::addRow("empty transcript still adds subagents, of both kinds")
        << QByteArray() << usageLine("s", 1, 2, 3, 4) << linesWithoutTokens() + usageLine("s", 10, 0)
        << stats(20, 0, 0, 200000, "");
    QTest::addRow("agent file of another session does not count")
        << usageLine("m", 5, 5) << QByteArray() << usageLine("m", 7, 0).replace("\"s1\"", "\"s2\"")
        << stats(10, 5, 5, 200000, "");
    QTest::addRow("missing transcript ignores subagents")
        << QByteArray("-") << usageLine("s", 1, 2) << QByteArray() << SessionStats();
    QTest::addRow("sums saturate, parts near the limit")
        << usageLine("a", maxCount / 2, 0, maxCount / 2, 2) + usageLine("b", maxCount / 2 + 1, 1, maxCount / 2 + 1)
        << usageLine("c", maxCount, 0) << QByteArray() << stats(maxCount, maxCount, 1, 1000000, "");
}

void TestTranscript::readSessionTokens()
{
    QFETCH(QByteArray, transcript);
    QFETCH(QByteArray, subagent);
    QFETCH(QByteArray, agentFile);
    QFETCH(SessionStats, expected);

    StatsHome home;
    const ActiveSession chosen = session(1, QStringLiteral("s1"), QStringLiteral("/home/ana/my_repo"));
    if (transcript != "-")
        home.writeTranscript(chosen, transcript);
    QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("a.jsonl")), subagent));
    QVERIFY(writeFile(home.projectPath(chosen, QStringLiteral("agent-x.jsonl")), agentFile));
    // Not counted: other names, a link to the main transcript, an agent file of another session.
    QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("notes.txt")), usageLine("n", 1000, 0)));
    QVERIFY(writeFile(home.projectPath(chosen, QStringLiteral("agent-acompact-1.jsonl")),
                      usageLine("n", 1000, 0).replace("\"s1\"", "\"s2\"")));
    QVERIFY(writeFile(home.projectPath(chosen, QStringLiteral("x-agent-2.jsonl")), usageLine("n", 1000, 0)));
    QVERIFY(QFile::link(home.transcriptPath(chosen), home.subagentPath(chosen, QStringLiteral("main.jsonl"))));
    QCOMPARE(::readSessionTokens(home.claudeDir(), chosen), expected);
}

// Claude Code's folder name turns every UTF-16 unit outside A-Z, a-z, 0-9 into "-"; the older
// name and any other folder holding the file serve too; an id that is not a plain file name
// reads nothing, wherever it points.
void TestTranscript::findsTheTranscriptFolder_data()
{
    QTest::addColumn<QString>("cwd");
    QTest::addColumn<QString>("sessionId");
    QTest::addColumn<QString>("folder"); // where the transcript lies, under projects/
    QTest::addColumn<bool>("found");
    QTest::addRow("underscore") << s("/home/ana/my_repo") << s("s1") << s("-home-ana-my-repo") << true;
    QTest::addRow("dot folder") << s("/Users/al/cli/.worktrees/2") << s("s1") << s("-Users-al-cli--worktrees-2") << true;
    QTest::addRow("space and dot") << s("/srv/x y/app.v2") << s("s1") << s("-srv-x-y-app-v2") << true;
    QTest::addRow("beyond the BMP: two dashes") << s("/w/\U0001F600é") << s("s1") << s("-w----") << true;
    QTest::addRow("older name") << s("/a/b.c") << s("s1") << s("-a-b.c") << true;
    QTest::addRow("shortened name elsewhere") << s("/a/very/long/path") << s("s1") << s("-a-very-lo-9f3e") << true;
    QTest::addRow("dot dot") << s("/a") << s("..") << s("-a") << false;
    QTest::addRow("slash") << s("/a") << s("../x") << s("-a") << false;
    QTest::addRow("backslash") << s("/a") << s("x\\y") << s("-a") << false;
    QTest::addRow("empty") << s("/a") << QString() << s("-a") << false;
}

void TestTranscript::findsTheTranscriptFolder()
{
    QFETCH(QString, cwd);
    QFETCH(QString, sessionId);
    QFETCH(QString, folder);
    QFETCH(bool, found);
    StatsHome home;
    const QString projects = home.claudeDir() + QLatin1String("/projects/");
    QVERIFY(writeFile(projects + folder + u'/' + sessionId + QLatin1String(".jsonl"), usageLine("a", 1, 1)));
    QVERIFY(writeFile(projects + folder + QLatin1String(".jsonl"), usageLine("a", 1, 1))); // an empty id
    const ActiveSession listed = session(1, sessionId, cwd);
    QCOMPARE(::readSessionTokens(home.claudeDir(), listed).totalTokens, found ? 2 : 0);
    QCOMPARE(projectFolderName(cwd) == folder, !QByteArray(QTest::currentDataTag()).contains("name"));
}

// FIFOs and directories named like transcripts are skipped; opening a FIFO would block for ever.
void TestTranscript::nonRegularFilesAreNeverOpened()
{
    StatsHome home;
    const ActiveSession piped = session(1, QStringLiteral("piped"));
    QVERIFY(makeFifo(home.transcriptPath(piped)));
    QVERIFY(writeFile(home.subagentPath(piped, QStringLiteral("a.jsonl")), usageLine("a", 1, 1)));
    QCOMPARE(::readSessionTokens(home.claudeDir(), piped), SessionStats());

    const ActiveSession chosen = session(1, QStringLiteral("s1"));
    home.writeTranscript(chosen, usageLine("a", 1, 1));
    QVERIFY(makeFifo(home.subagentPath(chosen, QStringLiteral("fifo.jsonl"))));
    QVERIFY(makeFifo(home.projectPath(chosen, QStringLiteral("agent-fifo.jsonl"))));
    QVERIFY(QDir().mkpath(home.subagentPath(chosen, QStringLiteral("folder.jsonl"))));
    QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("b.jsonl")), usageLine("b", 5, 0)));
    QCOMPARE(::readSessionTokens(home.claudeDir(), chosen).totalTokens, 7);

    // A NUL in a session id would cut the path short at "s1" and read that session's transcript.
    const ActiveSession cut = session(1, QStringLiteral("s1") + QChar(u'\0') + QStringLiteral("x"));
    QCOMPARE(::readSessionTokens(home.claudeDir(), cut), SessionStats());
}

// Many subagent files are read by two threads; every file counts once whoever reads it, a second
// name of one (a hard link) or of the main transcript does not count, links are followed but a
// link to a FIFO is never opened, and a cycle over unchanged files gives the same figures.
void TestTranscript::manySubagentFiles_data()
{
    QTest::addColumn<int>("files");
    QTest::addRow("few: one thread") << 10;
    QTest::addRow("many: shared with a helper") << 300;
}

void TestTranscript::manySubagentFiles()
{
    QFETCH(int, files);
    StatsHome home;
    const ActiveSession chosen = session(1, QStringLiteral("s1"));
    home.writeTranscript(chosen, usageLine("m", 1, 1));
    qint64 expected = 2;
    for (int i = 0; i < files; ++i) {
        QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("a%1.jsonl").arg(i)),
                          usageLine("x", i, 1) + usageLine("x", i, 2) + usageLine("y", 1, 0)));
        expected += i + 2 + 1;
    }
    const QString first = home.subagentPath(chosen, QStringLiteral("a0.jsonl"));
    QCOMPARE(::link(QFile::encodeName(first).constData(),
                    QFile::encodeName(home.subagentPath(chosen, QStringLiteral("hard.jsonl"))).constData()), 0);
    QVERIFY(QFile::link(home.transcriptPath(chosen), home.subagentPath(chosen, QStringLiteral("main.jsonl"))));
    QVERIFY(QFile::link(first, home.subagentPath(chosen, QStringLiteral("soft.jsonl")))); // a second name too
    QVERIFY(makeFifo(home.dataPath(QStringLiteral("fifo"))));
    QVERIFY(QFile::link(home.dataPath(QStringLiteral("fifo")), home.subagentPath(chosen, QStringLiteral("pipe.jsonl"))));

    const std::optional<SessionFiles> found = TranscriptLocator(home.claudeDir()).locate(chosen);
    QVERIFY(found);
    StatsCache cache;
    for (int cycle = 0; cycle < 2; ++cycle) {
        SessionFiles sessionFiles = *found;
        TranscriptReadContext context;
        resolveSubagentFiles(chosen.sessionId, sessionFiles, cache, context);
        QCOMPARE(sessionFiles.subagentFiles.size(), files + 4);
        QCOMPARE(::readSessionTokens(chosen, sessionFiles, cache, context).totalTokens, expected);
        QCOMPARE(context.bytesRead > 0, cycle == 0);
    }
}

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
