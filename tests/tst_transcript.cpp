#include "statscycle.h"
#include "transcriptaccounting.h"
#include "tst_statsfixture.h"

#include <QTest>

#include <limits>

char *toString(const UsageEntry &entry)
{
    return QTest::toString(QStringLiteral("(in %1, out %2, create %3, read %4, \"%5\")")
                               .arg(entry.input)
                               .arg(entry.output)
                               .arg(entry.cacheCreate)
                               .arg(entry.cacheRead)
                               .arg(entry.model));
}

namespace {

constexpr qint64 maxCount = std::numeric_limits<qint64>::max();

QByteArray messageLine(const QByteArray &usage, const QByteArray &id = "\"m\"")
{
    return "{\"message\":{\"id\":" + id + ",\"usage\":" + usage + "}}\n";
}

} // namespace

class TestTranscript : public QObject
{
    Q_OBJECT

private slots:
    void deduplicate_data();
    void deduplicate();
    void usageKeyAtEveryOffset();
    void streamedFileMatchesWholeRead();
    void readSessionTokens_data();
    void readSessionTokens();
    void nonRegularFilesAreNeverOpened();
    void encodeCwd_data();
    void encodeCwd();
    void contextWindowForModel();
};

void TestTranscript::deduplicate_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<UsageEntry>>("expected");

    QTest::addRow("same id merges at first position with last values")
        << usageLine("m1", 10, 5) + usageLine("m2", 20, 7, 0, 100, "claude-opus-4") + usageLine("m1", 10, 50)
        << QList<UsageEntry>{{10, 50, 0, 0, {}}, {20, 7, 0, 100, "claude-opus-4"}};
    QTest::addRow("model follows the last line of an id")
        << usageLine("m", 1, 1, 0, 0, "claude-sonnet-4") + usageLine("m", 1, 2, 0, 0, "claude-opus-4")
        << QList<UsageEntry>{{1, 2, 0, 0, "claude-opus-4"}};
    QTest::addRow("lines without id never merge")
        << usageLine({}, 3, 4) + usageLine({}, 3, 4)
        << QList<UsageEntry>{{3, 4, 0, 0, {}}, {3, 4, 0, 0, {}}};
    QTest::addRow("non-string ids never merge")
        << messageLine("{\"input_tokens\":1}", "7") + messageLine("{\"input_tokens\":1}", "7")
               + messageLine("{\"input_tokens\":1}", "null")
        << QList<UsageEntry>{{1, 0, 0, 0, {}}, {1, 0, 0, 0, {}}, {1, 0, 0, 0, {}}};
    QTest::addRow("truncated last line skipped though its usage is complete")
        << usageLine("a", 1, 1) + "{\"message\":{\"id\":\"b\",\"usage\":{\"input_tokens\":9,\"output_tokens\":9}}"
        << QList<UsageEntry>{{1, 1, 0, 0, {}}};
    QTest::addRow("last line without line feed counts")
        << usageLine("a", 1, 1) + usageLine("b", 2, 2).chopped(1)
        << QList<UsageEntry>{{1, 1, 0, 0, {}}, {2, 2, 0, 0, {}}};
    QTest::addRow("invalid, empty and CRLF lines")
        << "\n\n{not json}\n" + usageLine("a", 1, 1).chopped(1) + "\r\n\r\n[1,2]\n\"usage\"\n"
        << QList<UsageEntry>{{1, 1, 0, 0, {}}};
    QTest::addRow("message and usage must be objects")
        << QByteArray("{\"usage\":{\"input_tokens\":1}}\n{\"message\":{\"usage\":[1]}}\n{\"message\":\"usage\"}\n"
                      "{\"message\":{\"id\":\"x\",\"usage\":null}}\n")
        << QList<UsageEntry>{};
    QTest::addRow("keys compared after unescaping")
        << QByteArray(R"({"m\u0065ssage":{"\u0069d":"k","\u0075sage":{"input_tokens":3}}})" "\n"
                      R"({"message":{"id":"k","us\u0061ge":{"output_\u0074okens":4}}})" "\n"
                      R"({"message":{"id":"j","usag\u0065":{"input_tokens":5}}})" "\n")
        << QList<UsageEntry>{{0, 4, 0, 0, {}}, {5, 0, 0, 0, {}}};
    QTest::addRow("integral numbers in any notation")
        << messageLine(R"({"input_tokens":10.0,"output_tokens":1e2,"cache_creation_input_tokens":-3,)"
                       R"("cache_read_input_tokens":2.5E1})")
        << QList<UsageEntry>{{10, 100, -3, 25, {}}};
    QTest::addRow("non-integral and mistyped values count as 0")
        << messageLine(R"({"input_tokens":10.5,"output_tokens":"10","cache_creation_input_tokens":true,)"
                       R"("cache_read_input_tokens":null})")
        << QList<UsageEntry>{{0, 0, 0, 0, {}}};
    QTest::addRow("values outside 64 bits count as 0, the rest stands")
        << messageLine(R"({"input_tokens":9223372036854775808,"output_tokens":1e19,)"
                       R"("cache_creation_input_tokens":123456789012345678901234567890,)"
                       R"("cache_read_input_tokens":7,"other":-1e400})")
               + messageLine(R"({"input_tokens":-9223372036854775808,"output_tokens":9223372036854775807})", "\"n\"")
        << QList<UsageEntry>{{0, 0, 0, 7, {}}, {std::numeric_limits<qint64>::min(), maxCount, 0, 0, {}}};
    QTest::addRow("huge numbers inside strings are left alone")
        << messageLine(R"({"input_tokens":2,"note":"123456789012345678901234567890"})")
               + "{\"message\":{\"usage\":{\"input_tokens\":1}},\"bad\":01234567890123456789012}\n"
               + "{\"message\":{\"usage\":{\"input_tokens\":1}},\"bad\":1e400e5}\n"
        << QList<UsageEntry>{{2, 0, 0, 0, {}}};
    QTest::addRow("non-string model is empty")
        << QByteArray("{\"message\":{\"id\":\"a\",\"model\":42,\"usage\":{\"output_tokens\":1}}}\n")
        << QList<UsageEntry>{{0, 1, 0, 0, {}}};
}

void TestTranscript::deduplicate()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<UsageEntry>, expected);
    QCOMPARE(::deduplicate(data), expected);
}

// The line filter works in vector blocks: the key must be found wherever a block boundary falls.
void TestTranscript::usageKeyAtEveryOffset()
{
    for (int offset = 0; offset < 80; ++offset) {
        const QByteArray filler(offset, 'x');
        const QByteArray plain = "{\"f\":\"" + filler + "\",\"message\":{\"usage\":{\"input_tokens\":1}}}";
        const QByteArray escaped = "{\"f\":\"" + filler + "\",\"message\":{\"us\\u0061ge\":{\"input_tokens\":1}}}";
        QCOMPARE(::deduplicate(plain).size(), 1);
        QCOMPARE(::deduplicate(escaped).size(), 1);
    }
}

// Lines that straddle read chunks, and one longer than a chunk, give what a whole read gives.
void TestTranscript::streamedFileMatchesWholeRead()
{
    QByteArray data;
    for (int i = 0; data.size() < 3 << 20; ++i) {
        data += usageLine("m" + QByteArray::number(i % 500), i % 7, i, 0, i % 3, "claude-haiku");
        data += "{\"type\":\"user\",\"text\":\"" + QByteArray(i % 9000, 'y') + "\"}\n";
    }
    data += "{\"message\":{\"big\":\"" + QByteArray(5 << 20, 'z') + "\",\"usage\":{\"input_tokens\":11}}}\n";
    data += usageLine("tail", 1, 2);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.jsonl"));
    QVERIFY(writeFile(path, data));
    qint64 bytesRead = 0;
    const auto streamed = deduplicateFile(path, &bytesRead);
    QVERIFY(streamed);
    QCOMPARE(bytesRead, data.size());
    const QList<UsageEntry> whole = ::deduplicate(data);
    QCOMPARE(QList<UsageEntry>(streamed->begin(), streamed->end()), whole);
    QCOMPARE(whole.size(), 500 + 2);
}

void TestTranscript::readSessionTokens_data()
{
    QTest::addColumn<QByteArray>("transcript"); // "-" leaves the main transcript out
    QTest::addColumn<QByteArray>("subagentA");
    QTest::addColumn<SessionStats>("expected");

    QTest::addRow("three lines of the worked example")
        << usageLine("m1", 10, 5) + usageLine("m2", 20, 7, 0, 100, "claude-opus-4") + usageLine("m1", 10, 50)
        << QByteArray() << SessionStats{187, 120, 7, 200000, {}, {}, {}};
    QTest::addRow("output-only last entry adds to total only")
        << usageLine("a", 100, 5, 10, 1000) + usageLine("b", 0, 30) << QByteArray()
        << SessionStats{1145, 1110, 5, 200000, {}, {}, {}};
    QTest::addRow("empty transcript still adds subagents")
        << QByteArray() << usageLine("s", 1, 2, 3, 4) << SessionStats{10, 0, 0, 200000, {}, {}, {}};
    QTest::addRow("subagents add to the total only, same id counted per file")
        << usageLine("m", 5, 5) << usageLine("m", 1000, 1000, 0, 0, "claude-haiku")
        << SessionStats{2010, 5, 5, 200000, {}, {}, {}};
    QTest::addRow("missing transcript ignores subagents")
        << QByteArray("-") << usageLine("s", 1, 2) << SessionStats();
    QTest::addRow("sums saturate instead of overflowing")
        << usageLine("a", maxCount, 0, maxCount, maxCount) + usageLine("b", maxCount, 1)
        << usageLine("c", maxCount, 0) << SessionStats{maxCount, maxCount, 1, 200000, {}, {}, {}};
}

void TestTranscript::readSessionTokens()
{
    QFETCH(QByteArray, transcript);
    QFETCH(QByteArray, subagentA);
    QFETCH(SessionStats, expected);

    StatsHome home;
    const ActiveSession chosen = session(1, QStringLiteral("s1"));
    if (transcript != "-")
        home.writeTranscript(chosen, transcript);
    QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("a.jsonl")), subagentA));
    QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("notes.txt")), usageLine("n", 1000, 0)));
    QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("a.jsonl.bak")), usageLine("n", 1000, 0)));
    QCOMPARE(::readSessionTokens(home.claudeDir(), chosen), expected);
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
    QVERIFY(QDir().mkpath(home.subagentPath(chosen, QStringLiteral("folder.jsonl"))));
    QVERIFY(writeFile(home.subagentPath(chosen, QStringLiteral("b.jsonl")), usageLine("b", 5, 0)));
    QCOMPARE(::readSessionTokens(home.claudeDir(), chosen), (SessionStats{7, 1, 1, 200000, {}, {}, {}}));

    // A NUL in a session id would cut the path short at "s1" and read that session's transcript.
    const ActiveSession cut = session(1, QStringLiteral("s1") + QChar(u'\0') + QStringLiteral("x"));
    QCOMPARE(::readSessionTokens(home.claudeDir(), cut), SessionStats());
    QVERIFY(!jsonlModificationDate(home.claudeDir(), cut));
}

void TestTranscript::encodeCwd_data()
{
    QTest::addColumn<QString>("cwd");
    QTest::addColumn<QString>("expected");
    QTest::addRow("absolute path") << QString("/Users/ana/work/app") << QString("-Users-ana-work-app");
    QTest::addRow("relative path") << QString("work/app") << QString("-work-app");
    QTest::addRow("root alone") << QString("/") << QString("-");
    QTest::addRow("empty") << QString("") << QString("-");
    QTest::addRow("dots, spaces and underscores stay") << QString("/a/b.c/my dir_x") << QString("-a-b.c-my dir_x");
    QTest::addRow("only the first slash is dropped") << QString("//srv/x/") << QString("--srv-x-");
}

void TestTranscript::encodeCwd()
{
    QFETCH(QString, cwd);
    QFETCH(QString, expected);
    QCOMPARE(::encodeCwd(cwd), expected);
}

void TestTranscript::contextWindowForModel()
{
    for (const char *model : {"Claude-Sonnet-4-5", "claude-3-5-haiku", "claude-opus-4-1", "<synthetic>", ""})
        QCOMPARE(::contextWindowForModel(QLatin1String(model)), 200000);
}

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
