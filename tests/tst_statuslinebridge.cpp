#include "historystore.h"
#include "privatefiles.h"
#include "samplestore.h"
#include "statuslinesettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <tuple>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString bridge = QStringLiteral(GLIMMEROX_STATUSLINE_PATH);

QByteArray payload(const QByteArray &session, int fiveHour = 23)
{
    return R"({"session_id":")" + session + R"(","transcript_path":"/home/ana/.claude/projects/-home-ana-app/)"
        + session + R"(.jsonl","cwd":"/home/ana/app","model":{"id":"claude-opus-4-6","display_name":"Opus 4.6"},)"
          R"("context_window":{"context_window_size":200000,"used_percentage":34},)"
          R"("rate_limits":{"five_hour":{"used_percentage":)" + QByteArray::number(fiveHour) + R"(},)"
          R"("seven_day":{"used_percentage":41}}})";
}

// A process that exists and is not a zombie waiting for a parent that never reaps it.
bool isAlive(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return false;
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    return !stat.open(QIODevice::ReadOnly) || !stat.readAll().contains(") Z ");
}

// A runtime folder and a home of their own, so no real sample or setting is touched.
struct Rig
{
    QTemporaryDir dir;
    QString runtime = dir.filePath(u"runtime"_s);
    SampleStore store{runtime + u"/glimmerox"_s};

    Rig()
    {
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); // or Qt refuses it
    }
    void start(QProcess &process, const QStringList &arguments, const QByteArray &logging = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        environment.insert(u"HOME"_s, dir.path());
        environment.insert(u"XDG_STATE_HOME"_s, dir.filePath(u"state"_s));
        environment.remove(u"CLAUDE_CONFIG_DIR"_s);
        environment.remove(u"QT_LOGGING_RULES"_s);
        if (!logging.isEmpty())
            environment.insert(u"QT_LOGGING_RULES"_s, QString::fromLatin1(logging));
        process.setProcessEnvironment(environment);
        process.start(arguments.value(0) == u"/bin/sh"_s ? arguments[0] : bridge,
                      arguments.value(0) == u"/bin/sh"_s ? arguments.mid(1) : arguments);
    }
    // Runs to the end with `input`; the standard output, error and exit status.
    std::tuple<QByteArray, QByteArray, int> run(const QStringList &arguments, const QByteArray &input,
                                                const QByteArray &logging = {}) const
    {
        QProcess process;
        start(process, arguments, logging);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(60000))
            return {};
        return {process.readAllStandardOutput(), process.readAllStandardError(),
                process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1};
    }
    // The payloads name a data directory that is not there, so their samples count as this home's.
    QString dataDirectory() const { return dir.filePath(u".claude"_s); }
    int sessionsKept() const
    {
        const std::optional<DataDirectorySamples> samples = store.read(dataDirectory());
        return samples ? int(samples->sessions.size()) : 0;
    }
};

} // namespace

class TestStatusLineBridge : public QObject
{
    Q_OBJECT

private slots:
    void runs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("logging");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("sessions");

        const QByteArray good = payload("s1");
        const QByteArray huge(3 * 1024 * 1024, ' ');
        QTest::addRow("own line") << QStringList() << good << QByteArray()
                                  << QByteArray("app \xC2\xB7 ctx 34% \xC2\xB7 5h 23% \xC2\xB7 7d 41%\n") << QByteArray() << 0 << 1;
        QTest::addRow("malformed: an empty line, silently") << QStringList() << QByteArray("{\"session") << QByteArray()
                                                            << QByteArray("\n") << QByteArray() << 0 << 0;
        QTest::addRow("malformed, logging on: the reason on stderr")
            << QStringList() << QByteArray("{\"session") << QByteArray("glimmerox.bridge=true") << QByteArray("\n")
            << QByteArray("no sample: the payload of 9 bytes is too large or not a JSON object\n") << 0 << 0;
        QTest::addRow("chained: same input, its output, error and status")
            << QStringList{u"--then"_s, u"cat; echo oops >&2; exit 3"_s} << good << QByteArray() << good
            << QByteArray("oops\n") << 3 << 1;
        QTest::addRow("chained gets all of a huge input") << QStringList{u"--then"_s, u"wc -c | tr -d ' '"_s} << huge
                                                          << QByteArray() << QByteArray("3145728\n") << QByteArray() << 0 << 0;
        QTest::addRow("chained that ignores its input") << QStringList{u"--then"_s, u"echo hi"_s} << huge << QByteArray()
                                                        << QByteArray("hi\n") << QByteArray() << 0 << 0;
        QTest::addRow("chained ended by a signal") << QStringList{u"--then"_s, u"kill -9 $$"_s} << good << QByteArray()
                                                   << QByteArray() << QByteArray() << 128 + SIGKILL << 1;
    }
    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, logging);
        Rig rig;
        const auto [out, err, status] = rig.run(arguments, input, logging);
        QTEST(out, "out");
        QTEST(err, "err");
        QTEST(status, "status");
        QTEST(rig.sessionsKept(), "sessions");
    }

    void writersAtOnce()
    {
        Rig rig;
        // A temporary file a bridge ended mid-write left behind goes with the next write.
        QDir().mkpath(rig.store.folder());
        QVERIFY(QFile(rig.store.fileFor(rig.dataDirectory()) + u".glimmerox-Ab12Cd"_s).open(QIODevice::WriteOnly));
        constexpr int writers = 12;
        int skipped = 0;
        for (int round = 0; round < 3; ++round) {
            std::vector<std::unique_ptr<QProcess>> processes;
            // All but the payload's last byte first, so that the writers go on at nearly the same moment.
            for (int i = 0; i < writers; ++i) {
                processes.push_back(std::make_unique<QProcess>());
                rig.start(*processes.back(), {u"--then"_s, u"true"_s}, "glimmerox.bridge=true");
                processes[i]->write(payload("r" + QByteArray::number(round) + "-" + QByteArray::number(i), i).chopped(1));
                QVERIFY(processes[i]->waitForBytesWritten(20000));
            }
            for (int i = 0; i < writers; ++i) {
                processes[i]->write("}");
                processes[i]->waitForBytesWritten(20000);
            }
            for (const auto &process : processes) {
                QVERIFY(process->waitForFinished(60000) && process->exitCode() == 0);
                skipped += int(process->readAllStandardError().count("stayed locked"));
            }
            // No writer's session lost to another's: only one that found the lock held too long is missing.
            QCOMPARE(rig.sessionsKept(), writers * (round + 1) - skipped);
        }
        const QString folder = rig.store.folder();
        QCOMPARE(QDir(folder).entryList({u"samples-*.json"_s}, QDir::Files).size(), 1);
        QVERIFY(QDir(folder).entryList({u"*.glimmerox-*"_s}, QDir::Files).isEmpty());
        // The plan history took whole lines only, however the appends fell.
        QFile history(HistoryStore(rig.dir.filePath(u"state/glimmerox"_s)).fileFor(rig.dataDirectory()));
        QVERIFY(history.open(QIODevice::ReadOnly));
        const QByteArray lines = history.readAll();
        QVERIFY(lines.endsWith('\n'));
        QCOMPARE(parseHistory(lines).size(), lines.count('\n'));
        QVERIFY(parseHistory(lines).size() >= 2);
    }

    void heldOpenInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("out");
        const QByteArray tricky = "  {\"a\":\"}]\\\"{\",\"b\":[{}]}";
        QTest::addRow("payload, pipe kept open") << payload("s1") << u"cat"_s << payload("s1");
        QTest::addRow("braces in strings, escaped quote") << tricky << u"cat"_s << tricky;
        QTest::addRow("value not ended: quiet after the last byte") << QByteArray("{\"a\": [1") << u"cat"_s
                                                                     << QByteArray("{\"a\": [1");
        QTest::addRow("pipe opened, nothing written") << QByteArray() << u"echo hi"_s << QByteArray("hi\n");
    }
    void heldOpenInput()
    {
        // Claude Code sometimes keeps the pipe open: the line must come all the same.
        QFETCH(QByteArray, input);
        QFETCH(QString, command);
        Rig rig;
        QProcess process;
        rig.start(process, {u"--then"_s, command});
        process.write(input);
        QVERIFY(process.waitForFinished(10000)); // against a pipe held open for good
        QTEST(process.readAllStandardOutput(), "out");
    }

    void endedBridgeLeavesNoCommand_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("wholeGroup");
        QTest::addColumn<QString>("command");
        const QString exec = u"echo out; echo err >&2; echo $$ > %1; exec sleep 300"_s;
        const QString background = u"echo out; echo err >&2; sleep 300 & echo $! > %1; wait"_s;
        for (const auto &[name, signal, wholeGroup] : {std::tuple("SIGTERM", SIGTERM, false), std::tuple("SIGHUP", SIGHUP, false),
                                                       std::tuple("SIGKILL", SIGKILL, false),
                                                       std::tuple("SIGKILL to its group", SIGKILL, true)}) {
            QTest::addRow("%s, exec sleep", name) << signal << wholeGroup << exec;
            QTest::addRow("%s, sleep & wait", name) << signal << wholeGroup << background;
        }
    }
    void endedBridgeLeavesNoCommand()
    {
        QFETCH(int, signal);
        QFETCH(bool, wholeGroup);
        QFETCH(QString, command);
        Rig rig;
        const QString pidFile = rig.dir.filePath(u"pid"_s);
        QProcess process;
        process.setChildProcessModifier([] { ::setpgid(0, 0); }); // a group to kill without the test
        rig.start(process, {u"--then"_s, command.arg(pidFile)});
        process.write(payload("s1"));
        process.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(QFile(pidFile).size() > 0 && rig.sessionsKept() == 1, 20000);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 pid = file.readAll().trimmed().toLongLong();
        QVERIFY(isAlive(pid));
        ::kill(wholeGroup ? -pid_t(process.processId()) : pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(20000));
        QTRY_VERIFY_WITH_TIMEOUT(!isAlive(pid), 10000);
        QCOMPARE(process.readAllStandardOutput(), "out\n");
        QCOMPARE(process.readAllStandardError(), "err\n");
        if (signal != SIGKILL) // the command's own end, passed on
            QCOMPARE(process.exitCode(), 128 + signal);
    }

    void heldLock_data()
    {
        QTest::addColumn<int>("heldMs");
        QTest::addColumn<int>("kept");
        QTest::addRow("briefly: waited for") << 50 << 2;
        QTest::addRow("for long: skipped") << 10000 << 0;
    }
    void heldLock()
    {
        QFETCH(int, heldMs);
        Rig rig;
        QDir().mkpath(rig.store.folder());
        auto lock = std::make_unique<FileLock>(rig.store.fileFor(rig.dataDirectory()) + u".lock"_s);
        QTimer::singleShot(heldMs, [&lock] { lock.reset(); });
        QElapsedTimer elapsed;
        elapsed.start();
        QProcess first, second;
        for (QProcess *process : {&first, &second}) {
            rig.start(*process, {}, "glimmerox.bridge=true");
            process->write(payload(process == &first ? "s1" : "s2"));
            process->closeWriteChannel();
        }
        for (QProcess *process : {&first, &second}) {
            QTRY_VERIFY_WITH_TIMEOUT(process->state() == QProcess::NotRunning, 20000);
            QVERIFY(process->readAllStandardOutput().contains("ctx 34%"));
        }
        QTEST(rig.sessionsKept(), "kept");
        if (heldMs > 1000)
            QVERIFY(elapsed.elapsed() < heldMs / 2); // the line did not wait for the lock
    }

    void installedCommandRunsThroughTheShell();
};

// Out of the class: moc cannot read the shell quoting in its raw string.
void TestStatusLineBridge::installedCommandRunsThroughTheShell()
{
    // The bridge at an odd path, run as Claude Code runs the installed command; then the bridge
    // gone (a deleted build folder), and the user's own line comes as before.
    Rig rig;
    const QString folder = rig.dir.filePath(u"it's $HOME \\ ü"_s);
    const QString copy = folder + u"/glimmerox-statusline"_s;
    QVERIFY(QDir().mkpath(folder) && QFile::copy(bridge, copy));
    const QString settingsPath = rig.dir.filePath(u"settings.json"_s);
    const QByteArray input = payload("s9");
    for (const bool chained : {true, false}) {
        QFile settings(settingsPath);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(chained ? R"({"statusLine":{"type":"command","command":"printf '%s|' \"it's\" \"$(cat | wc -c | tr -d ' ')\"; exit 3"}})"
                               : "{}");
        settings.close();
        QVERIFY(StatusLineSettings(settingsPath, rig.dir.filePath(u"record.json"_s), copy).install().ok);
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QString shellCommand =
            QJsonDocument::fromJson(settings.readAll()).object()[u"statusLine"_s].toObject()[u"command"_s].toString();
        settings.close();
        for (const bool present : {true, false}) {
            QFile::setPermissions(copy, present ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner);
            const auto [out, err, status] = rig.run({u"/bin/sh"_s, u"-c"_s, shellCommand}, input);
            QCOMPARE(out, chained ? "it's|" + QByteArray::number(input.size()) + '|'
                                  : present ? QByteArray("app \xC2\xB7 ctx 34% \xC2\xB7 5h 23% \xC2\xB7 7d 41%\n") : QByteArray());
            QCOMPARE(status, chained ? 3 : 0);
            QCOMPARE(rig.sessionsKept(), 1);
        }
    }
}

QTEST_GUILESS_MAIN(TestStatusLineBridge)
#include "tst_statuslinebridge.moc"
