#include "shellcommand.h"

#include "posixio.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The running command's process group, for the signal handler; a handler can reach nothing else.
volatile sig_atomic_t commandGroup = 0;
// In the supervisor: where the SIGCHLD handler says that the command has ended.
volatile sig_atomic_t childEndedFd = -1;

constexpr int forwardedSignals[] = {SIGTERM, SIGINT, SIGHUP};

void forwardToCommand(int signal)
{
    const int saved = errno;
    if (commandGroup > 0)
        ::kill(-pid_t(commandGroup), signal);
    errno = saved;
}

void noteChildEnded(int)
{
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(childEndedFd, &byte, 1);
    errno = saved;
}

bool makePipe(int fds[2])
{
    if (::pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i)
        ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    return true;
}

[[noreturn]] void execCommand(const QByteArray &command, int inputFd, const sigset_t &previousMask)
{
    ::dup2(inputFd, STDIN_FILENO);
    for (int signal : forwardedSignals)
        std::signal(signal, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGCHLD, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    ::execl("/bin/sh", "sh", "-c", command.constData(), static_cast<char *>(nullptr));
    ::_exit(127);
}

// Ends every process of the supervisor's group, the supervisor last of all.
[[noreturn]] void endGroup()
{
    ::kill(0, SIGKILL);
    ::_exit(128 + SIGKILL);
}

// The supervisor: a forked copy of the bridge leading the command's process group. It runs the
// command and ends the whole group, the command's background processes included, once the command
// has ended (after telling the bridge how) or once the bridge is gone however it ended: the
// bridge holds the only writing end of `lifeline`, so the system closes it when the bridge dies,
// even by SIGKILL. Only async-signal-safe calls here: this is a child of a forked process.
[[noreturn]] void supervise(const QByteArray &command, int inputFd, int lifeline, int statusFd,
                            const sigset_t &previousMask)
{
    ::setpgid(0, 0);
    // The ending signals the bridge passes on reach the whole group; they are the command's to act on.
    for (int signal : forwardedSignals)
        std::signal(signal, SIG_IGN);
    int childEnded[2];
    if (!makePipe(childEnded))
        ::_exit(127);
    ::fcntl(childEnded[1], F_SETFL, O_NONBLOCK);
    childEndedFd = childEnded[1];
    struct sigaction ended {};
    ended.sa_handler = noteChildEnded;
    ended.sa_flags = SA_NOCLDSTOP | SA_RESTART;
    sigemptyset(&ended.sa_mask);
    ::sigaction(SIGCHLD, &ended, nullptr);

    const pid_t child = ::fork();
    if (child == 0)
        execCommand(command, inputFd, previousMask);
    ::close(inputFd);
    if (child < 0)
        ::_exit(127);
    sigset_t unblocked = previousMask;
    for (int signal : forwardedSignals)
        sigdelset(&unblocked, signal);
    sigdelset(&unblocked, SIGCHLD);
    ::sigprocmask(SIG_SETMASK, &unblocked, nullptr);

    for (;;) {
        pollfd watched[2] = {{lifeline, POLLIN, 0}, {childEnded[0], POLLIN, 0}};
        const int ready = ::poll(watched, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            // Four bytes fit any pipe's buffer: one write, no allocation in a forked child.
            [[maybe_unused]] const ssize_t written = ::write(statusFd, &status, sizeof status);
            endGroup();
        }
        if (ready < 0 || watched[0].revents != 0)
            endGroup(); // the bridge is gone
        if (watched[1].revents != 0) {
            char drained[16];
            [[maybe_unused]] const ssize_t n = ::read(childEnded[0], drained, sizeof drained);
        }
    }
}

} // namespace

ShellCommandResult runShellCommand(const QByteArray &command, const std::function<QByteArray()> &nextInput,
                                   const std::function<void()> &whileRunning)
{
    int inputFds[2], lifeline[2], statusFds[2];
    if (!makePipe(inputFds))
        return {0, systemError(QStringLiteral("Cannot create a pipe"), errno)};
    if (!makePipe(lifeline) || !makePipe(statusFds)) {
        const QString error = systemError(QStringLiteral("Cannot create a pipe"), errno);
        for (int fd : inputFds)
            ::close(fd);
        return {0, error};
    }

    // Until the handlers are in place, an ending signal waits instead of leaving the command behind.
    sigset_t ending, previousMask;
    sigemptyset(&ending);
    for (int signal : forwardedSignals)
        sigaddset(&ending, signal);
    sigaddset(&ending, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &ending, &previousMask);

    const pid_t supervisor = ::fork();
    if (supervisor == 0) {
        ::close(inputFds[1]);
        ::close(lifeline[1]);
        ::close(statusFds[0]);
        supervise(command, inputFds[0], lifeline[0], statusFds[1], previousMask);
    }
    ::close(inputFds[0]);
    ::close(lifeline[0]);
    ::close(statusFds[1]);
    if (supervisor < 0) {
        const QString error = systemError(QStringLiteral("Cannot start the chained command"), errno);
        ::close(inputFds[1]);
        ::close(lifeline[1]);
        ::close(statusFds[0]);
        ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        return {0, error};
    }
    ::setpgid(supervisor, supervisor); // also here, so the group exists whichever process runs first
    commandGroup = supervisor;
    struct sigaction forward {};
    forward.sa_handler = forwardToCommand;
    forward.sa_flags = SA_RESTART;
    sigemptyset(&forward.sa_mask);
    for (int signal : forwardedSignals)
        ::sigaction(signal, &forward, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);

    // A command that closes its input or ends early does not want the rest.
    for (QByteArray chunk = nextInput(); !chunk.isEmpty() && writeAll(inputFds[1], chunk); chunk = nextInput()) { }
    ::close(inputFds[1]);
    if (whileRunning)
        whileRunning();

    // The command's wait status, which the supervisor sends just before ending its group.
    int commandStatus = 0;
    qsizetype received = 0;
    while (received < qsizetype(sizeof commandStatus)) {
        const ssize_t n = ::read(statusFds[0], reinterpret_cast<char *>(&commandStatus) + received,
                                 sizeof commandStatus - size_t(received));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        received += n;
    }
    ::close(statusFds[0]);
    int status = 0;
    pid_t waited;
    do
        waited = ::waitpid(supervisor, &status, 0);
    while (waited < 0 && errno == EINTR);
    commandGroup = 0;
    ::close(lifeline[1]);
    if (received == qsizetype(sizeof commandStatus))
        status = commandStatus;
    else if (waited < 0)
        return {0, systemError(QStringLiteral("Cannot wait for the chained command"), errno)};
    if (WIFSIGNALED(status))
        return {128 + WTERMSIG(status), {}};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 0, {}};
}
