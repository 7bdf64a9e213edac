#include "benchcommands.h"
#include "claudedatadir.h"
#include "claudestatsreader.h"
#include "samplestore.h"
#include "sessionstats.h"
#include "statscycle.h"
#include "transcriptaccounting.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace {

// The running application object, or a new one owned by the caller when there is none.
std::unique_ptr<QCoreApplication> ensureApplication(int &argc, char **argv)
{
    if (QCoreApplication::instance())
        return nullptr;
    return std::make_unique<QCoreApplication>(argc, argv);
}

std::string jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2).toStdString();
}

std::string statsJson(const SessionStats &stats)
{
    char text[320];
    std::snprintf(text, sizeof text,
                  "{\"totalTokens\":%lld,\"lastContextTokens\":%lld,\"lastOutputTokens\":%lld,"
                  "\"contextWindowSize\":%lld,\"contextPercent\":%lld,",
                  static_cast<long long>(stats.totalTokens), static_cast<long long>(stats.lastContextTokens),
                  static_cast<long long>(stats.lastOutputTokens), static_cast<long long>(stats.contextWindowSize),
                  static_cast<long long>(stats.contextPercent()));
    return text + ("\"sessionId\":" + jsonString(stats.sessionId) + ",\"model\":" + jsonString(stats.model) + '}');
}

std::string sessionsJson(const QList<ActiveSession> &sessions)
{
    std::string out = "[";
    for (const ActiveSession &session : sessions) {
        if (out.size() > 1)
            out += ',';
        out += "{\"pid\":" + std::to_string(session.pid) + ",\"sessionId\":" + jsonString(session.sessionId)
            + ",\"cwd\":" + jsonString(session.cwd)
            + ",\"startedAtMs\":" + std::to_string(session.startedAt.toMSecsSinceEpoch())
            + (session.contextPercent ? ",\"contextPercent\":" + std::to_string(*session.contextPercent) : std::string())
            + '}';
    }
    return out + ']';
}

struct Timing
{
    double min = 0;
    double median = 0;
};

Timing summarize(std::vector<double> seconds)
{
    std::sort(seconds.begin(), seconds.end());
    const size_t middle = seconds.size() / 2;
    return {seconds.front(), seconds.size() % 2 ? seconds[middle] : (seconds[middle - 1] + seconds[middle]) / 2};
}

// The value after `option` in the arguments, or `fallback`.
long long optionValue(int argc, char **argv, const char *option, long long fallback, bool *ok)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0) {
            char *end = nullptr;
            const long long value = std::strtoll(argv[i + 1], &end, 10);
            if (*end != '\0' || end == argv[i + 1])
                *ok = false;
            return value;
        }
    }
    return fallback;
}

bool hasFlag(int argc, char **argv, const char *flag)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0)
            return true;
    }
    return false;
}

// ---- synthetic data directory ------------------------------------------------------------

// Writes transcripts shaped like Claude Code's: streamed assistant messages whose id repeats on
// 1 to 3 consecutive lines, user lines carrying long escaped tool results, summaries, and a
// truncated last line. Keeps the totals it expects as it writes.
class TranscriptWriter
{
public:
    explicit TranscriptWriter(std::uint64_t seed)
        : m_random(seed)
    {
        static const char *const fragments[] = {
            "    for (const auto &item : items) {\\n", "        total += item.size();\\n",
            "\\t\\treturn \\\"ok\\\";\\n", "}\\n", "// see \\\"docs/notes.md\\\" for details\\n",
            "path\\\\to\\\\file.txt\\n", "\\u001b[32mPASS\\u001b[0m test_parser (0.42 s)\\n",
            "error: expected ';' after expression\\n", "  \\\"name\\\": \\\"glimmer\\\",\\n",
            "Lorem ipsum dolor sit amet, consectetur adipiscing elit.\\n",
            "$ ls -la\\ntotal 48\\ndrwxr-xr-x  5 ana staff  160 Dec  5 12:00 .\\n",
            "usage: tool [-h] [--verbose] FILE...\\n", "\\u00e9t\\u00e9 \\u2014 caf\\u00e9\\n",
        };
        for (const char *fragment : fragments)
            m_fragments.emplace_back(fragment);
    }

    struct Expected
    {
        long long total = 0;
        long long lastContext = 0;
        long long lastOutput = 0;
    };

    // Writes about `bytes` bytes to `path`; `main` selects the context figures.
    Expected write(const QString &path, long long bytes, const std::string &sessionId)
    {
        std::string out;
        out.reserve(1 << 22);
        FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
        if (!file)
            return {};
        struct Final
        {
            long long input, output, cacheCreate, cacheRead;
        };
        std::map<std::string, size_t> positions;
        std::vector<Final> entries;
        Expected expected;
        long long written = 0;
        while (written + (long long)out.size() < bytes) {
            const int kind = pick(100);
            if (kind < 6) {
                out += "{\"type\":\"summary\",\"summary\":\"Refactor the parser and fix " + std::to_string(pick(1000))
                    + " tests\",\"leafUuid\":\"" + uuid() + "\"}\n";
            } else if (kind < 55) {
                userLine(out, sessionId);
            } else {
                const std::string id = "msg_01" + token(22);
                const int repeats = 1 + pick(3);
                Final final{};
                for (int i = 0; i < repeats; ++i) {
                    const bool outputOnly = pick(40) == 0;
                    final.input = outputOnly ? 0 : 1 + pick(9);
                    final.cacheCreate = outputOnly ? 0 : pick(6000);
                    final.cacheRead = outputOnly ? 0 : 10000 + pick(140000);
                    final.output = 1 + pick(100) * (i + 1);
                    assistantLine(out, sessionId, id, final.input, final.output, final.cacheCreate, final.cacheRead);
                }
                const auto [position, inserted] = positions.try_emplace(id, entries.size());
                if (inserted)
                    entries.push_back(final);
                else
                    entries[position->second] = final;
                if (final.input > 0 || final.cacheRead > 0 || final.cacheCreate > 0) {
                    expected.lastContext = final.input + final.cacheRead + final.cacheCreate;
                    expected.lastOutput = final.output;
                }
            }
            if (out.size() >= (1u << 22)) {
                written += flush(out, file);
            }
        }
        // A line cut short, as while Claude Code is writing it; its usage must not count.
        std::string partial;
        assistantLine(partial, sessionId, "msg_01" + token(22), 5, 500, 50, 50000);
        out.append(partial, 0, partial.size() / 2);
        written += flush(out, file);
        std::fclose(file);
        for (const Final &entry : entries)
            expected.total += entry.input + entry.output + entry.cacheCreate + entry.cacheRead;
        m_bytes += written;
        return expected;
    }

    long long bytesWritten() const { return m_bytes; }

    // A short subagent transcript as a quick search leaves it: 12 assistant lines, about 2.8 KB,
    // streamed in pairs under 6 message ids. Returns its total.
    long long writeSmall(const QString &path, const std::string &sessionId)
    {
        std::string out;
        long long total = 0;
        for (int call = 0; call < 6; ++call) {
            const std::string id = "msg_01" + token(22);
            const long long input = 1 + pick(9);
            const long long cacheRead = 1000 + pick(20000);
            for (int line = 0; line < 2; ++line) {
                const long long output = 1 + pick(300);
                out += "{\"isSidechain\":true,\"sessionId\":\"" + sessionId
                    + "\",\"message\":{\"id\":\"" + id
                    + "\",\"model\":\"claude-haiku-4-5-20251001\",\"usage\":{\"input_tokens\":" + std::to_string(input)
                    + ",\"cache_read_input_tokens\":" + std::to_string(cacheRead)
                    + ",\"output_tokens\":" + std::to_string(output) + "}}}\n";
                if (line == 1)
                    total += input + cacheRead + output;
            }
        }
        FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
        if (!file)
            return 0;
        m_bytes += flush(out, file);
        std::fclose(file);
        return total;
    }

    // One complete assistant line with a fresh message id.
    std::string assistant(const std::string &sessionId, long long input, long long output, long long cacheRead)
    {
        std::string out;
        assistantLine(out, sessionId, "msg_01" + token(22), input, output, 0, cacheRead);
        return out;
    }

    std::string uuid()
    {
        static const char hex[] = "0123456789abcdef";
        std::string text(36, '-');
        for (size_t i = 0; i < text.size(); ++i) {
            if (i != 8 && i != 13 && i != 18 && i != 23)
                text[i] = hex[pick(16)];
        }
        return text;
    }

private:
    int pick(int bound) { return int(m_random() % std::uint64_t(bound)); }

    std::string token(int length)
    {
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        std::string text(size_t(length), 'A');
        for (char &c : text)
            c = alphabet[pick(62)];
        return text;
    }

    void escapedText(std::string &out, int bytes)
    {
        const size_t target = out.size() + size_t(bytes);
        while (out.size() < target)
            out += m_fragments[size_t(pick(int(m_fragments.size())))];
    }

    void envelope(std::string &out, const std::string &sessionId, const char *type)
    {
        out += "{\"parentUuid\":\"" + uuid() + "\",\"isSidechain\":false,\"userType\":\"external\","
               "\"cwd\":\"/home/ana/work/app\",\"sessionId\":\"" + sessionId
            + "\",\"version\":\"2.0.14\",\"gitBranch\":\"main\",\"type\":\"" + type + "\",";
    }

    void userLine(std::string &out, const std::string &sessionId)
    {
        envelope(out, sessionId, "user");
        out += "\"message\":{\"role\":\"user\",\"content\":[{\"tool_use_id\":\"toolu_01" + token(22)
            + "\",\"type\":\"tool_result\",\"content\":\"";
        const int size = pick(50) == 0 ? 100000 + pick(150000) : 1000 + pick(30000);
        escapedText(out, size);
        out += "\",\"is_error\":false}]},\"uuid\":\"" + uuid() + "\",\"timestamp\":\"2025-10-12T09:14:07.311Z\"";
        if (pick(50) == 0) // a subagent's result reports its own usage outside "message"
            out += ",\"toolUseResult\":{\"status\":\"completed\",\"totalTokens\":51234,\"usage\":{\"input_tokens\":12,"
                   "\"output_tokens\":840}}";
        out += "}\n";
    }

    void assistantLine(std::string &out, const std::string &sessionId, const std::string &id, long long input,
                       long long output, long long cacheCreate, long long cacheRead)
    {
        envelope(out, sessionId, "assistant");
        out += "\"message\":{\"id\":\"" + id + "\",\"type\":\"message\",\"role\":\"assistant\",\"model\":\""
            + (pick(4) == 0 ? "claude-opus-4-1-20250805" : "claude-sonnet-4-5-20250929") + "\",\"content\":[";
        if (pick(2) == 0) {
            out += "{\"type\":\"text\",\"text\":\"";
            escapedText(out, 200 + pick(2000));
            out += "\"}";
        } else {
            out += "{\"type\":\"tool_use\",\"id\":\"toolu_01" + token(22)
                + "\",\"name\":\"Edit\",\"input\":{\"file_path\":\"/home/ana/work/app/src/parser.cpp\",\"old_string\":\"";
            escapedText(out, 100 + pick(3000));
            out += "\",\"new_string\":\"";
            escapedText(out, 100 + pick(3000));
            out += "\"}}";
        }
        out += "],\"stop_reason\":null,\"stop_sequence\":null,\"usage\":{\"input_tokens\":" + std::to_string(input)
            + ",\"cache_creation_input_tokens\":" + std::to_string(cacheCreate)
            + ",\"cache_read_input_tokens\":" + std::to_string(cacheRead)
            + ",\"cache_creation\":{\"ephemeral_5m_input_tokens\":" + std::to_string(cacheCreate)
            + ",\"ephemeral_1h_input_tokens\":0},\"output_tokens\":" + std::to_string(output)
            + ",\"service_tier\":\"standard\"}},\"requestId\":\"req_011" + token(21) + "\",\"uuid\":\"" + uuid()
            + "\",\"timestamp\":\"2025-10-12T09:14:09.002Z\"}\n";
    }

    static long long flush(std::string &out, FILE *file)
    {
        const long long count = (long long)std::fwrite(out.data(), 1, out.size(), file);
        out.clear();
        return count;
    }

    std::mt19937_64 m_random;
    std::vector<std::string> m_fragments;
    long long m_bytes = 0;
};

// Writes (or, with QIODevice::Append, appends) the whole text.
bool writeText(const QString &path, const std::string &text, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

// The data directories as the app finds them, with `home` in place of the home directory.
QStringList dataDirectoriesOf(const char *home)
{
    return knownDataDirectories(QFile::decodeName(home), qEnvironmentVariable("CLAUDE_CONFIG_DIR"),
                                sampleDataDirectories(SampleStore::defaultFolder(), QDateTime::currentDateTimeUtc()));
}

} // namespace

namespace {

// The files a cycle reads whole: the shown session's transcript and its subagent transcripts,
// in the order the reader takes them.
std::vector<QByteArray> shownSessionFiles(const StatsSnapshot &snapshot)
{
    std::vector<QByteArray> paths;
    for (const ActiveSession &session : snapshot.activeSessions) {
        if (session.sessionId != snapshot.sessionStats.sessionId || session.claudeDir != snapshot.sessionStats.claudeDir)
            continue;
        const TranscriptLocator locator(session.claudeDir);
        std::optional<SessionFiles> files = locator.locate(session);
        if (!files) {
            auto found = locator.search({session.sessionId});
            if (found.empty())
                break;
            files = std::move(found.begin()->second);
        }
        StatsCache cache;
        TranscriptReadContext context;
        resolveSubagentFiles(session.sessionId, *files, cache, context);
        paths.push_back(QFile::encodeName(files->transcript));
        for (const SubagentFile &file : std::as_const(files->subagentFiles))
            paths.push_back(QFile::encodeName(file.path));
        break;
    }
    return paths;
}

struct PlainRead
{
    long long bytes = 0;
    long long lineFeeds = 0;
};

// The floor for many files: open each, read it into a 1 MiB buffer, count its line feeds with
// memchr and close it. A read that leaves the buffer short ends the file, so a small file costs
// one open, one read and one close.
PlainRead readPlainly(const std::vector<QByteArray> &paths, std::vector<char> &buffer)
{
    PlainRead result;
    for (const QByteArray &path : paths) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ssize_t got;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
            result.bytes += got;
            for (const char *at = buffer.data(), *end = at + got;
                 (at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)))); ++at)
                ++result.lineFeeds;
            if (size_t(got) < buffer.size())
                break;
        }
        ::close(fd);
    }
    return result;
}

} // namespace

int benchStats(int argc, char **argv)
{
    const std::unique_ptr<QCoreApplication> application = ensureApplication(argc, argv);
    bool ok = true;
    const long long repeat = optionValue(argc, argv, "--repeat", 5, &ok);
    const bool baseline = hasFlag(argc, argv, "--baseline");
    if (argc < 2 || argv[1][0] == '-' || !ok || repeat < 1) {
        std::fprintf(stderr, "usage: glimmerox-bench stats HOME [--repeat N] [--baseline]\n");
        return 2;
    }
    const QStringList claudeDirs = dataDirectoriesOf(argv[1]);

    // With --baseline, each cycle is followed by a plain read of the same files (at least 5 of
    // them), so that both see the same load on a shared machine.
    StatsSnapshot snapshot;
    std::vector<double> seconds;
    std::vector<double> plainSeconds;
    std::vector<QByteArray> plainPaths;
    std::vector<char> buffer(baseline ? size_t(1) << 20 : 0);
    PlainRead plain;
    for (long long round = 0; round < (baseline ? std::max(repeat, 5LL) : repeat); ++round) {
        QElapsedTimer timer;
        if (round < repeat) {
            timer.start();
            snapshot = collectStats(claudeDirs);
            seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
        }
        if (!baseline)
            continue;
        if (round == 0)
            plainPaths = shownSessionFiles(snapshot);
        timer.start();
        plain = readPlainly(plainPaths, buffer);
        plainSeconds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    const Timing timing = summarize(seconds);
    std::string baselineJson;
    if (baseline) {
        const Timing plainTiming = summarize(plainSeconds);
        char text[256];
        std::snprintf(text, sizeof text,
                      ",\"baseline\":{\"files\":%zu,\"bytes\":%lld,\"lineFeeds\":%lld,\"passes\":%zu,"
                      "\"secondsPerPass\":{\"min\":%.6f,\"median\":%.6f}},\"ratio\":%.2f",
                      plainPaths.size(), plain.bytes, plain.lineFeeds, plainSeconds.size(), plainTiming.min,
                      plainTiming.median, timing.min / std::max(1e-9, plainTiming.min));
        baselineJson = text;
    }

    std::printf("{\"activeSessions\":%s,\"sessionStats\":%s,\"cycles\":%lld,\"bytesRead\":%lld,"
                "\"secondsPerCycle\":{\"min\":%.6f,\"median\":%.6f}%s}\n",
                sessionsJson(snapshot.activeSessions).c_str(), statsJson(snapshot.sessionStats).c_str(), repeat,
                static_cast<long long>(snapshot.bytesRead), timing.min, timing.median, baselineJson.c_str());
    return 0;
}

// The reader's cycle as the app runs it: one kept cache, the first cycle and then the steady
// ones on an unchanged data directory.
int benchCycles(int argc, char **argv)
{
    const std::unique_ptr<QCoreApplication> application = ensureApplication(argc, argv);
    bool ok = true;
    const long long repeat = optionValue(argc, argv, "--repeat", 9, &ok);
    if (argc < 2 || argv[1][0] == '-' || !ok || repeat < 1) {
        std::fprintf(stderr, "usage: glimmerox-bench cycles HOME [--repeat N]\n");
        return 2;
    }
    const QStringList claudeDirs = dataDirectoriesOf(argv[1]);
    StatsCache cache;
    QElapsedTimer timer;
    timer.start();
    StatsSnapshot snapshot = collectStats(claudeDirs, cache);
    const double firstMs = double(timer.nsecsElapsed()) / 1e6;
    std::vector<double> steady;
    for (long long cycle = 0; cycle < repeat; ++cycle) {
        timer.restart();
        snapshot = collectStats(claudeDirs, cache);
        steady.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const Timing timing = summarize(steady);
    std::printf("{\"firstCycleMs\":%.3f,\"steadyCycleMs\":{\"min\":%.3f,\"median\":%.3f},\"steadyBytesRead\":%lld,"
                "\"activeSessions\":%lld}\n",
                firstMs, timing.min, timing.median, static_cast<long long>(snapshot.bytesRead),
                static_cast<long long>(snapshot.activeSessions.size()));
    return 0;
}

int benchGenerate(int argc, char **argv)
{
    const std::unique_ptr<QCoreApplication> application = ensureApplication(argc, argv);
    bool ok = true;
    const long long sizeMb = optionValue(argc, argv, "--size-mb", -1, &ok);
    const long long subagents = optionValue(argc, argv, "--subagents", 0, &ok);
    const long long seed = optionValue(argc, argv, "--seed", 1, &ok);
    const long long idleSessions = optionValue(argc, argv, "--idle-sessions", 0, &ok);
    const long long projectFolders = optionValue(argc, argv, "--project-folders", 0, &ok);
    const long long smallSubagents = optionValue(argc, argv, "--small-subagents", 0, &ok);
    const bool shortened = hasFlag(argc, argv, "--shortened");
    if (argc < 2 || argv[1][0] == '-' || !ok || sizeMb < 0 || subagents < 0 || idleSessions < 0 || projectFolders < 0
        || smallSubagents < 0) {
        std::fprintf(stderr, "usage: glimmerox-bench generate DIR --size-mb M [--subagents K] [--small-subagents K] "
                             "[--seed S] [--idle-sessions N [--shortened]] [--project-folders F]\n");
        return 2;
    }
    const QString claudeDir = QFile::decodeName(argv[1]) + QLatin1String("/.claude");
    TranscriptWriter writer{std::uint64_t(seed)};

    // The invoking shell stands in for Claude Code: its pid stays alive while it runs.
    const long long pid = getppid();
    const long long startedAtMs = 1733400000000 + seed;
    const ActiveSession shown{pid, QString::fromStdString(writer.uuid()), QStringLiteral("/home/ana/work/app"),
                              QDateTime::fromMSecsSinceEpoch(startedAtMs, Qt::UTC), {}, {}};
    const ActiveSession older{pid, QString::fromStdString(writer.uuid()), QStringLiteral("/home/ana/work/old.site"),
                              QDateTime::fromMSecsSinceEpoch(startedAtMs - 3600000, Qt::UTC), {}, {}};

    const QString sessionsDir = claudeDir + QLatin1String("/sessions");
    const QString subagentDir = claudeDir + QLatin1String("/projects/") + projectFolderName(shown.cwd) + u'/'
        + shown.sessionId + QLatin1String("/subagents");
    const QString olderProject = claudeDir + QLatin1String("/projects/") + projectFolderName(older.cwd);
    if (!QDir().mkpath(sessionsDir) || !QDir().mkpath(subagentDir) || !QDir().mkpath(olderProject)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(claudeDir));
        return 1;
    }
    for (const ActiveSession &session : {shown, older}) {
        const std::string record = "{\"pid\":" + std::to_string(session.pid) + ",\"sessionId\":\""
            + session.sessionId.toStdString() + "\",\"cwd\":\"" + session.cwd.toStdString()
            + "\",\"startedAt\":" + std::to_string(session.startedAt.toMSecsSinceEpoch()) + ",\"kind\":\"cli\"}";
        writeText(sessionsDir + u'/' + session.sessionId + QLatin1String(".json"), record);
    }

    const long long mainBytes = sizeMb << 20;
    const TranscriptWriter::Expected expected = writer.write(transcriptPath(claudeDir, shown), mainBytes,
                                                             shown.sessionId.toStdString());
    long long total = expected.total;
    for (long long i = 0; i < subagents; ++i) {
        const QString path = subagentDir + QLatin1String("/agent-") + QString::number(i) + QLatin1String(".jsonl");
        total += writer.write(path, mainBytes / 5 / std::max(1LL, subagents), shown.sessionId.toStdString()).total;
    }
    for (long long i = 0; i < smallSubagents; ++i) {
        const QString path = subagentDir + QLatin1String("/agent-s") + QString::number(i) + QLatin1String(".jsonl");
        total += writer.writeSmall(path, shown.sessionId.toStdString());
    }
    writeText(subagentDir + QLatin1String("/notes.txt"), "{\"message\":{\"usage\":{\"output_tokens\":1}}}\n");

    // The other session's transcript is an hour older, so the big one is shown.
    const QString olderPath = transcriptPath(claudeDir, older);
    writer.write(olderPath, 64 << 10, older.sessionId.toStdString());
    struct utimbuf times;
    times.actime = times.modtime = ::time(nullptr) - 3600;
    ::utime(QFile::encodeName(olderPath).constData(), &times);

    // Idle live sessions with small transcripts two hours old, in folders named after their
    // working directory or, with --shortened, in folders Claude Code shortened (a long working
    // directory cut to 200 characters and a hash), which only a search of projects/ finds.
    for (long long i = 0; i < idleSessions; ++i) {
        const QString cwd = shortened ? QStringLiteral("/home/ana/work/") + QString(220, u'x') + QStringLiteral("/idle-")
                + QString::number(i)
                                      : QStringLiteral("/home/ana/work/idle-") + QString::number(i);
        const ActiveSession idle{pid, QString::fromStdString(writer.uuid()), cwd,
                                 QDateTime::fromMSecsSinceEpoch(startedAtMs - 7200000, Qt::UTC), {}, {}};
        const QString folder = shortened ? projectFolderName(cwd).left(200) + u'-'
                + QString::number(qHash(cwd), 16)
                                         : projectFolderName(cwd);
        const QString path = claudeDir + QLatin1String("/projects/") + folder + u'/' + idle.sessionId
            + QLatin1String(".jsonl");
        QDir().mkpath(QFileInfo(path).path());
        writeText(sessionsDir + u'/' + idle.sessionId + QLatin1String(".json"),
                  "{\"pid\":" + std::to_string(pid) + ",\"sessionId\":\"" + idle.sessionId.toStdString()
                      + "\",\"cwd\":\"" + cwd.toStdString() + "\",\"startedAt\":"
                      + std::to_string(idle.startedAt.toMSecsSinceEpoch()) + "}");
        writer.write(path, 16 << 10, idle.sessionId.toStdString());
        times.actime = times.modtime = ::time(nullptr) - 7200;
        ::utime(QFile::encodeName(path).constData(), &times);
    }
    // Project folders of sessions long gone, one small transcript each.
    for (long long i = 0; i < projectFolders; ++i) {
        const QString folder = claudeDir + QLatin1String("/projects/-home-ana-archive-") + QString::number(i);
        QDir().mkpath(folder);
        writer.write(folder + u'/' + QString::fromStdString(writer.uuid()) + QLatin1String(".jsonl"), 1024, writer.uuid());
    }

    // Sessions in the order the directory lists them, as the reader will publish them.
    QList<ActiveSession> listed;
    for (const QString &name : QDir(sessionsDir).entryList(QDir::Files, QDir::Unsorted)) {
        if (name.startsWith(shown.sessionId) || name.startsWith(older.sessionId))
            listed.append(name.startsWith(shown.sessionId) ? shown : older);
    }
    const SessionStats stats{total, expected.lastContext, expected.lastOutput, 200000, shown.sessionId, shown.cwd, {}, {}, 0};
    std::printf("{\"activeSessions\":%s,\"sessionStats\":%s,\"bytesWritten\":%lld}\n",
                sessionsJson(listed).c_str(), statsJson(stats).c_str(), writer.bytesWritten());
    return 0;
}

// The floor the accounting is measured against: read the same files in 1 MiB chunks and count
// their line feeds with memchr, nothing else. With --filter, every piece between line feeds also
// goes through that line filter, so that the variants can be compared on the same data.
int benchScan(int argc, char **argv)
{
    bool ok = true;
    const long long repeat = optionValue(argc, argv, "--repeat", 5, &ok);
    std::optional<LineFilter> filter;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0) {
            ++i;
        } else if (std::strcmp(argv[i], "--filter") == 0) {
            filter = i + 1 < argc ? lineFilterNamed(argv[++i]) : std::nullopt;
            ok = ok && filter && supportedLineFilters().contains(*filter);
        } else {
            paths.emplace_back(argv[i]);
        }
    }
    if (paths.empty() || !ok || repeat < 1) {
        std::fprintf(stderr, "usage: glimmerox-bench scan FILE... [--repeat N] [--filter portable|sse2|avx2|avx512]"
                             " (this processor runs:");
        for (const LineFilter supported : supportedLineFilters())
            std::fprintf(stderr, " %s", lineFilterName(supported));
        std::fprintf(stderr, ")\n");
        return 2;
    }

    const LineFilterFunction mayHoldUsageKey = filter ? lineFilterFunction(*filter) : nullptr;
    std::vector<char> buffer((1 << 20) + lineFilterOverread);
    const size_t capacity = size_t(1) << 20;
    long long bytes = 0;
    long long lineFeeds = 0;
    long long passed = 0;
    std::vector<double> seconds;
    for (long long pass = 0; pass < repeat; ++pass) {
        QElapsedTimer timer;
        timer.start();
        bytes = lineFeeds = passed = 0;
        for (const std::string &path : paths) {
            FILE *file = std::fopen(path.c_str(), "rb");
            if (!file) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            size_t got;
            while ((got = std::fread(buffer.data(), 1, capacity, file)) > 0) {
                bytes += static_cast<long long>(got);
                const char *at = buffer.data();
                const char *const end = at + got;
                while (const char *lineEnd = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)))) {
                    ++lineFeeds;
                    if (mayHoldUsageKey && mayHoldUsageKey(at, size_t(lineEnd - at)))
                        ++passed;
                    at = lineEnd + 1;
                }
                if (mayHoldUsageKey && at < end && mayHoldUsageKey(at, size_t(end - at)))
                    ++passed;
            }
            std::fclose(file);
        }
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    const Timing timing = summarize(seconds);
    const std::string filterJson = filter ? std::string(",\"filter\":\"") + lineFilterName(*filter)
            + "\",\"piecesPassed\":" + std::to_string(passed)
                                          : std::string();
    std::printf("{\"files\":%zu,\"bytes\":%lld,\"lineFeeds\":%lld%s,\"passes\":%lld,"
                "\"secondsPerPass\":{\"min\":%.6f,\"median\":%.6f}}\n",
                paths.size(), bytes, lineFeeds, filterJson.c_str(), repeat, timing.min, timing.median);
    return 0;
}

namespace {

double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
#ifdef __APPLE__
    return double(usage.ru_maxrss) / (1024.0 * 1024.0); // bytes
#else
    return double(usage.ru_maxrss) / 1024.0; // KiB
#endif
}

// The resident set now, from /proc (Linux); 0 where it cannot be read.
double residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) : 0;
}

// The memory the per-message-id state takes: a ledger of ten million distinct ids.
double ledgerBytesPerId()
{
    constexpr qint64 ids = 10'000'000;
    const double before = residentBytes();
    auto ledger = std::make_unique<UsageLedger>();
    UsageLine line;
    line.hasId = true;
    line.entry.model = QStringLiteral("claude-opus-4-6");
    for (qint64 i = 0; i < ids; ++i) {
        line.idDigest = quint64(i) * 0x9e3779b97f4a7c15ULL;
        line.idCheck = quint32(i);
        line.entry.input = i;
        ledger->add(line);
    }
    return (residentBytes() - before) / double(ids);
}

double milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

std::string timingJson(const std::vector<double> &values)
{
    const Timing timing = summarize(values);
    char text[96];
    std::snprintf(text, sizeof text, "{\"min\":%.3f,\"median\":%.3f}", timing.min, timing.median);
    return text;
}

// A session record naming this process, so the session counts as live.
bool writeRecord(const QString &claudeDir, const ActiveSession &session)
{
    QDir().mkpath(claudeDir + QLatin1String("/sessions"));
    const std::string record = "{\"pid\":" + std::to_string(session.pid) + ",\"sessionId\":\""
        + session.sessionId.toStdString() + "\",\"cwd\":\"" + session.cwd.toStdString() + "\",\"startedAt\":1}";
    return writeText(claudeDir + QLatin1String("/sessions/") + session.sessionId + QLatin1String(".json"), record);
}

} // namespace

// The cost of live refresh: a cycle that picks up one appended line against a full read of the
// same transcript, and the per-file cost of many small subagent transcripts.
int benchTail(int argc, char **argv)
{
    const std::unique_ptr<QCoreApplication> application = ensureApplication(argc, argv);
    bool ok = true;
    const long long sizeMb = optionValue(argc, argv, "--size-mb", 100, &ok);
    const long long repeat = optionValue(argc, argv, "--repeat", 9, &ok);
    const long long subagentFiles = optionValue(argc, argv, "--subagent-files", 10000, &ok);
    const long long sessionCount = optionValue(argc, argv, "--sessions", 1, &ok);
    if (argc < 2 || argv[1][0] == '-' || !ok || sizeMb < 1 || repeat < 1 || subagentFiles < 1 || sessionCount < 1) {
        std::fprintf(stderr, "usage: glimmerox-bench tail HOME [--size-mb M] [--repeat N] [--subagent-files K] "
                             "[--sessions K]\n");
        return 2;
    }
    const QString home = QFile::decodeName(argv[1]);
    TranscriptWriter writer{7};
    const qint64 pid = QCoreApplication::applicationPid();

    // Long transcripts of live sessions, grown in turn by one assistant line per measured cycle.
    const QString claudeDir = home + QLatin1String("/.claude");
    QList<ActiveSession> sessions;
    QStringList transcripts;
    for (long long i = 0; i < sessionCount; ++i) {
        const ActiveSession session{pid, QString::fromStdString(writer.uuid()),
                                    QStringLiteral("/home/ana/work/app") + QString::number(i),
                                    QDateTime::fromMSecsSinceEpoch(1, Qt::UTC), {}, {}};
        const QString transcript = transcriptPath(claudeDir, session);
        if (!QDir().mkpath(QFileInfo(transcript).path()) || !writeRecord(claudeDir, session)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(claudeDir));
            return 1;
        }
        writer.write(transcript, sizeMb << 20, session.sessionId.toStdString());
        writeText(transcript, "\n", QIODevice::Append); // ends the generator's cut-short last line
        sessions.append(session);
        transcripts.append(transcript);
    }
    // The n-th append, to each session in turn.
    const auto append = [&](long long i) {
        const std::string line =
            writer.assistant(sessions.at(i % sessionCount).sessionId.toStdString(), 3, 100 + i, 120000);
        writeText(transcripts.at(i % sessionCount), line, QIODevice::Append);
        // Appends this close together can share a file time; a second apart, as in a real session,
        // the appended transcript is the newest and so the one shown.
        struct utimbuf times;
        times.actime = times.modtime = ::time(nullptr) + 10 + i;
        ::utime(QFile::encodeName(transcripts.at(i % sessionCount)).constData(), &times);
        return qint64(line.size());
    };

    std::vector<double> full;
    for (long long i = 0; i < std::min(repeat, 5LL); ++i) {
        QElapsedTimer timer;
        timer.start();
        collectStats({claudeDir});
        full.push_back(milliseconds(timer));
    }
    // Every session shown once, so each has been read whole before the measured cycles.
    StatsCache cache;
    collectStats({claudeDir}, cache);
    for (long long i = 0; i < sessionCount; ++i) {
        append(i);
        collectStats({claudeDir}, cache);
    }
    std::vector<double> appended;
    qint64 appendedBytesRead = 0;
    qint64 mostBeyondAppended = 0; // bytes read beyond the appended ones, the most of any cycle
    StatsSnapshot last;
    for (long long i = 0; i < repeat; ++i) {
        const qint64 appendedBytes = append(sessionCount + i);
        QElapsedTimer timer;
        timer.start();
        last = collectStats({claudeDir}, cache);
        appended.push_back(milliseconds(timer));
        appendedBytesRead = last.bytesRead;
        mostBeyondAppended = std::max(mostBeyondAppended, last.bytesRead - appendedBytes);
    }
    const bool matchesFullRead = last.sessionStats == collectStats({claudeDir}).sessionStats
        && last.sessionStats.lastOutputTokens == 100 + sessionCount + repeat - 1;
    const QString transcript = transcripts.constFirst();
    const ActiveSession session = sessions.constFirst();

    // Many small subagent transcripts: a full cycle against opening and reading each file.
    const QString manyDir = home + QLatin1String("/many/.claude");
    const QString manyTranscript = transcriptPath(manyDir, session);
    const QString subagentDir = manyTranscript.chopped(6) + QLatin1String("/subagents");
    QDir().mkpath(subagentDir);
    writeRecord(manyDir, session);
    writeText(manyTranscript, writer.assistant(session.sessionId.toStdString(), 1, 1, 1));
    // A short subagent transcript of 12 lines: the prompt, then calls and their tool results.
    const std::string envelope = "{\"parentUuid\":null,\"isSidechain\":true,\"userType\":\"external\",\"sessionId\":\""
        + session.sessionId.toStdString() + "\",\"version\":\"2.0.14\",";
    std::string small = envelope + "\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":\"Find the parser tests\"}}\n";
    for (int call = 0; call < 11; ++call) {
        if (call % 2 == 0) {
            small += envelope + "\"type\":\"assistant\",\"message\":{\"id\":\"msg_" + std::to_string(call / 4)
                + "\",\"model\":\"claude-haiku-4-5\",\"content\":[{\"type\":\"tool_use\",\"name\":\"Grep\"}],"
                  "\"usage\":{\"input_tokens\":1,\"output_tokens\":2,\"cache_read_input_tokens\":3}}}\n";
        } else {
            small += envelope + "\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":[{\"type\":"
                                "\"tool_result\",\"content\":\"tests/tst_parser.cpp:12\"}]}}\n";
        }
    }
    for (long long i = 0; i < subagentFiles; ++i)
        writeText(subagentDir + QLatin1String("/agent-a") + QString::number(i) + QLatin1String(".jsonl"), small);
    std::vector<double> manyCycle;
    std::vector<double> plainRead;
    std::vector<char> buffer(1 << 16);
    qint64 manyTotal = 0;
    qint64 plainLineFeeds = 0;
    for (long long pass = 0; pass < repeat; ++pass) {
        // The reader's first cycle: its cache lives on, so dropping it is not part of the cycle.
        auto firstCache = std::make_unique<StatsCache>();
        QElapsedTimer timer;
        timer.start();
        manyTotal = collectStats({manyDir}, *firstCache).sessionStats.totalTokens;
        manyCycle.push_back(milliseconds(timer));
        firstCache.reset();
        timer.restart();
        plainLineFeeds = 0;
        const std::optional<QStringList> names = listDirectory(subagentDir);
        for (const QString &name : names.value_or(QStringList())) {
            FILE *file = std::fopen(QFile::encodeName(subagentDir + u'/' + name).constData(), "rb");
            if (!file)
                continue;
            size_t got;
            while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
                for (const char *at = buffer.data(), *end = at + got;
                     (at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)))); ++at)
                    ++plainLineFeeds;
            }
            std::fclose(file);
        }
        plainRead.push_back(milliseconds(timer));
    }
    const double ratio = summarize(manyCycle).min / std::max(1e-9, summarize(plainRead).min);
    const double peakBeforeLedger = peakResidentMiB();
    const double bytesPerId = ledgerBytesPerId();

    std::printf("{\"transcriptBytes\":%lld,\"sessions\":%lld,\"appendedCycleMs\":%s,\"fullCycleMs\":%s,\"speedup\":%.1f,"
                "\"appendedBytesRead\":%lld,\"bytesReadPerAppendedCycle\":%lld,\"matchesFullRead\":%s,"
                "\"subagentFiles\":{\"files\":%lld,\"lineFeeds\":%lld,\"totalTokens\":%lld,\"cycleMs\":%s,\"plainReadMs\":%s,"
                "\"ratio\":%.2f},\"peakResidentMiB\":%.1f,\"ledgerBytesPerId\":%.1f}\n",
                static_cast<long long>(QFileInfo(transcript).size()), sessionCount, timingJson(appended).c_str(),
                timingJson(full).c_str(), summarize(full).median / std::max(1e-9, summarize(appended).median),
                static_cast<long long>(appendedBytesRead), static_cast<long long>(mostBeyondAppended),
                matchesFullRead ? "true" : "false", subagentFiles,
                static_cast<long long>(plainLineFeeds),
                static_cast<long long>(manyTotal), timingJson(manyCycle).c_str(), timingJson(plainRead).c_str(),
                ratio, peakBeforeLedger, bytesPerId);
    return 0;
}
