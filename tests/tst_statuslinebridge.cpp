#include "historystore.h"
#include "samplestore.h"
#include "statuslinesettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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
    int sessionsKept() const
    {
        const std::optional<DataDirectorySamples> samples = store.read(u"/home/ana/.claude"_s);
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
        QVERIFY(QFile(rig.store.fileFor(u"/home/ana/.claude"_s) + u".glimmerox-Ab12Cd"_s).open(QIODevice::WriteOnly));
        constexpr int writers = 12;
        for (int round = 0; round < 3; ++round) {
            std::vector<std::unique_ptr<QProcess>> processes;
            for (int i = 0; i < writers; ++i) {
                processes.push_back(std::make_unique<QProcess>());
                rig.start(*processes.back(), {u"--then"_s, u"true"_s});
            }
            for (int i = 0; i < writers; ++i) {
                processes[i]->write(payload("r" + QByteArray::number(round) + "-" + QByteArray::number(i), i));
                processes[i]->closeWriteChannel();
            }
            for (const auto &process : processes)
                QVERIFY(process->waitForFinished(60000) && process->exitCode() == 0);
            QCOMPARE(rig.sessionsKept(), writers * (round + 1)); // no writer's session lost to another's
        }
        const QString folder = rig.store.folder();
        QCOMPARE(QDir(folder).entryList({u"samples-*.json"_s}, QDir::Files).size(), 1);
        QVERIFY(QDir(folder).entryList({u"*.glimmerox-*"_s}, QDir::Files).isEmpty());
        // The plan history took whole lines only, however the appends fell.
        QFile history(HistoryStore(rig.dir.filePath(u"state/glimmerox"_s)).fileFor(u"/home/ana/.claude"_s));
        QVERIFY(history.open(QIODevice::ReadOnly));
        const QByteArray lines = history.readAll();
        QVERIFY(lines.endsWith('\n'));
        QCOMPARE(parseHistory(lines).size(), lines.count('\n'));
        QVERIFY(parseHistory(lines).size() >= 2);
    }

    void endedBridgeLeavesNoCommand_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("command");
        // Ended politely, the bridge passes the signal to the whole group, grandchildren included.
        QTest::addRow("SIGTERM") << int(SIGTERM) << u"sleep 300 & echo $! > %1; wait"_s;
        QTest::addRow("SIGHUP") << int(SIGHUP) << u"sleep 300 & echo $! > %1; wait"_s;
    #ifdef Q_OS_LINUX
        // Killed outright, it cannot: the system ends the command it started.
        QTest::addRow("SIGKILL") << int(SIGKILL) << u"echo $$ > %1; exec sleep 300"_s;
    #endif
    }
    void endedBridgeLeavesNoCommand()
    {
        QFETCH(int, signal);
        QFETCH(QString, command);
        Rig rig;
        const QString pidFile = rig.dir.filePath(u"pid"_s);
        QProcess process;
        rig.start(process, {u"--then"_s, command.arg(pidFile)});
        process.write(payload("s1"));
        process.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(QFile(pidFile).size() > 0, 20000);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 pid = file.readAll().trimmed().toLongLong();
        QVERIFY(isAlive(pid));
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(20000));
        QTRY_VERIFY_WITH_TIMEOUT(!isAlive(pid), 10000);
    }

    void installedCommandRunsThroughTheShell();
};

// Out of the class: moc cannot read the shell quoting in its raw string.
void TestStatusLineBridge::installedCommandRunsThroughTheShell()
{
    Rig rig;
    const QString settingsPath = rig.dir.filePath(u"settings.json"_s);
    QFile settings(settingsPath);
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(R"({"statusLine":{"type":"command","command":"printf '%s|' \"it's\" \"$(cat | wc -c | tr -d ' ')\""}})");
    settings.close();
    QVERIFY(StatusLineSettings(settingsPath, rig.dir.filePath(u"record.json"_s), bridge).install().ok);
    QFile installed(settingsPath);
    QVERIFY(installed.open(QIODevice::ReadOnly));
    const QString shellCommand =
        QJsonDocument::fromJson(installed.readAll()).object()[u"statusLine"_s].toObject()[u"command"_s].toString();
    const QByteArray input = payload("s9");
    const auto [out, err, status] = rig.run({u"/bin/sh"_s, u"-c"_s, shellCommand}, input);
    QCOMPARE(out, "it's|" + QByteArray::number(input.size()) + '|');
    QCOMPARE(status, 0);
    QCOMPARE(rig.sessionsKept(), 1);
}

QTEST_GUILESS_MAIN(TestStatusLineBridge)
#include "tst_statuslinebridge.moc"
