#include "benchcommands.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

// statusline [--repeat N] [--bridge PATH]: the whole glimmerox-statusline process on a 4 KiB
// payload without a chained command (bridgeMs), with the payload written and the pipe then kept
// open as Claude Code sometimes does (heldOpenMs), and chaining `cat >/dev/null` (chainedMs),
// against `sh -c 'cat >/dev/null'` on the same payload (catMs), run in alternating rounds so all
// see the same machine load. Samples go to a temporary runtime folder.

extern char **environ;

namespace {

int statusLineUsage(const char *message)
{
    std::fprintf(stderr, "statusline: %s\nusage: statusline [--repeat N] [--bridge PATH]\n", message);
    return 2;
}

// A payload shaped like Claude Code's, padded to 4 KiB with a long working directory.
QByteArray payload(const QString &dataDirectory)
{
    QByteArray json = R"({"session_id":"5f1c2d7e-8a9b-4c3d-9e0f-1a2b3c4d5e6f","transcript_path":")"
        + dataDirectory.toUtf8() + R"(/projects/-home-ana-app/5f1c2d7e-8a9b-4c3d-9e0f-1a2b3c4d5e6f.jsonl",)"
        R"("model":{"id":"claude-opus-4-6","display_name":"Opus 4.6"},"version":"2.1.90",)"
        R"("output_style":{"name":"default"},"cost":{"total_cost_usd":1.25,"total_duration_ms":734000},)"
        R"("context_window":{"context_window_size":200000,"used_percentage":34,"current_usage":)"
        R"({"input_tokens":1200,"output_tokens":800,"cache_creation_input_tokens":3000,)"
        R"("cache_read_input_tokens":63000}},)"
        R"("rate_limits":{"five_hour":{"used_percentage":23.5,"resets_at":1893456000},)"
        R"("seven_day":{"used_percentage":41,"resets_at":1893956000}},"cwd":"/home/ana/)";
    json += QByteArray(4096 - json.size() - 3, 'a') + "\"}\n";
    return json;
}

double msSince(const timespec &start)
{
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    return double(end.tv_sec - start.tv_sec) * 1e3 + double(end.tv_nsec - start.tv_nsec) / 1e6;
}

// Milliseconds from spawning `argv` with `input` as standard input until it has ended; -1 on a
// failure. With `held` the input comes through a pipe that stays open until the process has ended.
double timedRun(const char *const argv[], int input, int output, char **environment, const QByteArray &held = {})
{
    int pipeFds[2] = {-1, -1};
    if (!held.isEmpty() && ::pipe(pipeFds) != 0)
        return -1;
    if (held.isEmpty() && lseek(input, 0, SEEK_SET) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, held.isEmpty() ? input : pipeFds[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    if (!held.isEmpty())
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char *const *>(argv), environment);
    posix_spawn_file_actions_destroy(&actions);
    bool written = true;
    if (!held.isEmpty()) {
        ::close(pipeFds[0]);
        written = spawned == 0 && ::write(pipeFds[1], held.constData(), size_t(held.size())) == held.size();
    }
    int status = 0;
    const bool ok = spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0
        && written;
    const double ms = msSince(start);
    if (!held.isEmpty())
        ::close(pipeFds[1]);
    return ok ? ms : -1;
}

QByteArray statsJson(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const double median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    return QByteArray(R"({"min":)") + QByteArray::number(ms.front(), 'f', 3) + R"(,"median":)"
        + QByteArray::number(median, 'f', 3) + '}';
}

} // namespace

int benchStatusLine(int argc, char **argv)
{
    int repeat = 100;
    QByteArray bridge = GLIMMEROX_STATUSLINE_PATH;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--bridge") == 0 && i + 1 < argc)
            bridge = argv[++i];
        else
            return statusLineUsage("unknown option");
    }
    if (repeat < 1)
        return statusLineUsage("--repeat must be at least 1");

    QTemporaryDir scratch;
    const QString runtime = scratch.filePath(QStringLiteral("runtime"));
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (!scratch.isValid() || !QDir().mkpath(runtime) || !QFile::setPermissions(runtime, ownerOnly))
        return statusLineUsage("cannot create a temporary runtime folder");
    QFile input(scratch.filePath(QStringLiteral("payload.json")));
    if (!input.open(QIODevice::ReadWrite) || input.write(payload(scratch.filePath(QStringLiteral(".claude")))) != 4096
        || !input.flush())
        return statusLineUsage("cannot write the payload");
    const int output = ::open("/dev/null", O_WRONLY | O_CLOEXEC);

    // The children's environment: this one with the runtime and state folders replaced, so the
    // history the bridge appends to is a scratch one too.
    std::vector<QByteArray> variables{"XDG_RUNTIME_DIR=" + QFile::encodeName(runtime),
                                      "XDG_STATE_HOME=" + QFile::encodeName(scratch.filePath(QStringLiteral("state")))};
    for (char **variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "XDG_RUNTIME_DIR=", 16) != 0 && std::strncmp(*variable, "XDG_STATE_HOME=", 15) != 0)
            variables.emplace_back(*variable);
    std::vector<char *> environment;
    for (QByteArray &variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);

    const QByteArray heldPayload = payload(scratch.filePath(QStringLiteral(".claude")));
    const char *const bridgeArgv[] = {bridge.constData(), nullptr};
    const char *const chainedArgv[] = {bridge.constData(), "--then", "cat >/dev/null", nullptr};
    const char *const catArgv[] = {"/bin/sh", "-c", "cat >/dev/null", nullptr};
    std::vector<double> bridgeMs, heldOpenMs, chainedMs, catMs;
    for (int i = 0; i < repeat + 3; ++i) {
        const double b = timedRun(bridgeArgv, input.handle(), output, environment.data());
        const double h = timedRun(bridgeArgv, input.handle(), output, environment.data(), heldPayload);
        const double t = timedRun(chainedArgv, input.handle(), output, environment.data());
        const double c = timedRun(catArgv, input.handle(), output, environment.data());
        if (b < 0 || h < 0 || t < 0 || c < 0)
            return std::fprintf(stderr, "statusline: %s did not run\n", c < 0 ? "sh" : bridge.constData()), 1;
        if (i >= 3) { // the first runs warm the page cache
            bridgeMs.push_back(b);
            heldOpenMs.push_back(h);
            chainedMs.push_back(t);
            catMs.push_back(c);
        }
    }
    ::close(output);
    std::printf("{\"bridgeMs\":%s,\"heldOpenMs\":%s,\"chainedMs\":%s,\"catMs\":%s}\n", statsJson(bridgeMs).constData(),
                statsJson(heldOpenMs).constData(), statsJson(chainedMs).constData(), statsJson(catMs).constData());
    return 0;
}
