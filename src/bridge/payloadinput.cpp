#include "payloadinput.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

void JsonValueEnd::feed(const char *data, qsizetype size)
{
    for (qsizetype i = 0; i < size && m_state != State::complete; ++i) {
        const char c = data[i];
        switch (m_state) {
        case State::before:
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                break;
            if (c == '"') {
                m_state = State::inString;
            } else if (c == '{' || c == '[') {
                m_depth = 1;
                m_state = State::inValue;
            } else {
                m_state = State::inScalar;
            }
            break;
        case State::inValue:
            if (c == '"')
                m_state = State::inString;
            else if (c == '{' || c == '[')
                ++m_depth;
            else if ((c == '}' || c == ']') && --m_depth == 0)
                m_state = State::complete;
            break;
        case State::inString:
            if (c == '\\')
                m_state = State::inStringEscape;
            else if (c == '"')
                m_state = m_depth == 0 ? State::complete : State::inValue;
            break;
        case State::inStringEscape:
            m_state = State::inString;
            break;
        case State::inScalar:
        case State::complete:
            break;
        }
    }
}

PayloadInput::PayloadInput(int fd, Limits limits) : m_fd(fd), m_limits(limits) { }

QByteArray PayloadInput::readChunk(qsizetype capacity)
{
    using namespace std::chrono;
    QByteArray chunk(capacity, Qt::Uninitialized);
    while (!m_ended && !m_end.isComplete()) {
        const auto deadline = m_receivedAny ? m_lastByte + m_limits.idle : m_lastByte + m_limits.silence;
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd input{m_fd, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&input, 1, int(left) + 1) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            m_ended = true; // waited long enough, or cannot wait at all
            break;
        }
        const ssize_t n = ::read(m_fd, chunk.data(), size_t(capacity));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            m_ended = true;
            break;
        }
        m_receivedAny = true;
        m_lastByte = steady_clock::now();
        m_end.feed(chunk.constData(), n);
        chunk.truncate(n);
        return chunk;
    }
    return {};
}

QByteArray PayloadInput::next()
{
    constexpr qsizetype readSize = 64 * 1024;
    if (m_started)
        return m_overflowed ? readChunk(readSize) : QByteArray();
    m_started = true;
    m_lastByte = std::chrono::steady_clock::now();
    QByteArray payload;
    while (payload.size() <= m_limits.maxKept) {
        const QByteArray chunk = readChunk(readSize);
        if (chunk.isEmpty())
            return payload;
        payload += chunk;
    }
    m_overflowed = true;
    return payload;
}
