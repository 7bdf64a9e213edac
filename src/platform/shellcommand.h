#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// How a chained command ended, as a shell reports it: its exit code, or 128 plus the number of
// the signal that ended it. `error` says why it could not be run at all (exitStatus is 0 then).
struct ShellCommandResult
{
    int exitStatus = 0;
    QString error;
};

// Runs `command` through /bin/sh -c, sharing this process's standard output and error. Its
// standard input is what `nextInput` returns, call after call, until it returns nothing or the
// command stops reading; then end of input. The command runs in a process group of its own, led
// by a small supervisor process: SIGTERM, SIGINT and SIGHUP sent to this process while it runs are
// passed on to that group, and the supervisor ends the whole group when the command has ended and
// when this process dies, however it dies, so no part of the command outlives the bridge (a
// process that leaves the group on purpose excepted). `whileRunning` is called once the input
// has been handed over, before waiting for the end.
ShellCommandResult runShellCommand(const QByteArray &command, const std::function<QByteArray()> &nextInput,
                                   const std::function<void()> &whileRunning);
