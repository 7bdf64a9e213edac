#include "shellcommand.h"

#include "ownprocess.h"
#include "posixio.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The running command's process group, for the signal handler; a handler can reach nothing else.
volatile sig_atomic_t commandGroup = 0;

constexpr int forwardedSignals[] = {SIGTERM, SIGINT, SIGHUP};

void forwardToCommand(int signal)
{
    const int saved = errno;
    if (commandGroup > 0)
        ::kill(-pid_t(commandGroup), signal);
    errno = saved;
}

[[noreturn]] void execInChild(const QByteArray &command, int inputFd, pid_t parent, const sigset_t &previousMask)
{
    ::setpgid(0, 0);
    endWhenParentEnds();
    if (::getppid() != parent) // the parent died before the request was in place
        ::_exit(128 + SIGTERM);
    ::dup2(inputFd, STDIN_FILENO);
    for (int signal : forwardedSignals)
        std::signal(signal, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    ::execl("/bin/sh", "sh", "-c", command.constData(), static_cast<char *>(nullptr));
    ::_exit(127);
}

} // namespace

ShellCommandResult runShellCommand(const QByteArray &command, const QByteArray &input,
                                   const std::function<void()> &whileRunning)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {0, systemError(QStringLiteral("Cannot create a pipe"), errno)};
    for (int fd : pipeFds)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);

    // Until the handlers are in place, an ending signal waits instead of leaving the command behind.
    sigset_t ending, previousMask;
    sigemptyset(&ending);
    for (int signal : forwardedSignals)
        sigaddset(&ending, signal);
    ::sigprocmask(SIG_BLOCK, &ending, &previousMask);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0)
        execInChild(command, pipeFds[0], parent, previousMask);
    ::close(pipeFds[0]);
    if (child < 0) {
        const QString error = systemError(QStringLiteral("Cannot start the chained command"), errno);
        ::close(pipeFds[1]);
        ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        return {0, error};
    }
    ::setpgid(child, child); // also here, so the group exists whichever process runs first
    commandGroup = child;
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
    writeAll(pipeFds[1], input);
    ::close(pipeFds[1]);
    if (whileRunning)
        whileRunning();

    int status = 0;
    pid_t waited;
    do
        waited = ::waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    commandGroup = 0;
    if (waited < 0)
        return {0, systemError(QStringLiteral("Cannot wait for the chained command"), errno)};
    if (WIFSIGNALED(status))
        return {128 + WTERMSIG(status), {}};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 0, {}};
}
