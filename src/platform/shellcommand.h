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

// Runs `command` through /bin/sh -c with `input` as its standard input, sharing this process's
// standard output and error. The command gets a process group of its own; SIGTERM, SIGINT and
// SIGHUP sent to this process while it runs are passed on to that group, and on Linux the system
// also ends the command when this process dies, so no part of it outlives a cancelled bridge.
// `whileRunning` is called once the input has been handed over, before waiting for the end.
ShellCommandResult runShellCommand(const QByteArray &command, const QByteArray &input,
                                   const std::function<void()> &whileRunning);
