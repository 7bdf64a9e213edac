#pragma once

#include "statuslinesample.h"

#include <QByteArray>
#include <QtGlobal>

#include <chrono>

// Tells where one JSON value ends in bytes fed piece by piece, keeping none of them: leading
// blanks skipped, then strings, escapes and nesting followed. A bare number or word has no end
// of its own and is never complete.
class JsonValueEnd
{
public:
    void feed(const char *data, qsizetype size);
    bool isComplete() const { return m_state == State::complete; }

private:
    enum class State { before, inValue, inString, inStringEscape, inScalar, complete };
    State m_state = State::before;
    qint64 m_depth = 0;
};

// Claude Code's payload on the bridge's standard input. Claude Code sometimes keeps the pipe open
// after writing, or opens it and writes nothing, so reading never waits for end of input: it
// stops at the end of one complete JSON value, `idle` after the last byte once bytes came, or
// `silence` when none came.
class PayloadInput
{
public:
    struct Limits
    {
        std::chrono::milliseconds idle{200};
        std::chrono::milliseconds silence{1000};
        qsizetype maxKept = maxStatusLinePayload;
    };

    explicit PayloadInput(int fd) : PayloadInput(fd, Limits()) { }
    PayloadInput(int fd, Limits limits);

    // The next bytes to hand on; empty at the end. The first call returns the payload, of which
    // at most `maxKept` bytes (and one read more) are kept; past that, later calls return the
    // rest piece by piece as it comes, none of it kept.
    QByteArray next();
    // Whether the first call's bytes were all there was (else they are not a payload to record).
    bool isWhole() const { return !m_overflowed; }

private:
    QByteArray readChunk(qsizetype capacity);

    int m_fd;
    Limits m_limits;
    JsonValueEnd m_end;
    bool m_started = false;
    bool m_ended = false;
    bool m_overflowed = false;
    bool m_receivedAny = false;
    std::chrono::steady_clock::time_point m_lastByte;
};
