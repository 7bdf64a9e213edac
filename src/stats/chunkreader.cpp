#include "chunkreader.h"

#include <algorithm>

ChunkBuffers::ChunkBuffers(size_t padding)
{
    for (auto &buffer : m_buffers)
        buffer = std::make_unique_for_overwrite<char[]>(chunkBytes + padding);
}

ChunkReader::ChunkReader(RegularFile &file, qint64 limit, const ChunkBuffers &buffers)
    : m_file(file)
    , m_buffers(buffers)
    , m_remaining(limit)
    , m_threaded(limit > qint64(2 * ChunkBuffers::chunkBytes))
{
    Q_ASSERT(limit >= 0);
    if (m_threaded)
        m_thread = std::thread([this] { fill(); });
}

ChunkReader::~ChunkReader()
{
    if (!m_threaded)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_freed.notify_one();
    m_thread.join();
}

qint64 ChunkReader::readChunk(size_t slot)
{
    const qint64 wanted = std::min(m_remaining, qint64(ChunkBuffers::chunkBytes));
    if (wanted == 0)
        return 0;
    const qint64 size = m_file.read(m_buffers.buffer(slot), wanted);
    if (size > 0)
        m_remaining -= size;
    return size;
}

void ChunkReader::fill()
{
    for (;;) {
        size_t slot = 0;
        {
            std::unique_lock lock(m_mutex);
            m_freed.wait(lock, [this] { return m_freeCount > 0 || m_stop; });
            if (m_stop)
                return;
            --m_freeCount;
            slot = m_writeIndex;
            m_writeIndex = (m_writeIndex + 1) % ChunkBuffers::count;
        }
        const qint64 size = readChunk(slot);
        {
            const std::lock_guard lock(m_mutex);
            m_sizes[slot] = size;
            ++m_filledCount;
        }
        m_filled.notify_one();
        if (size <= 0)
            return;
    }
}

ChunkReader::Chunk ChunkReader::next()
{
    if (!m_threaded) {
        const size_t slot = m_takeIndex;
        m_takeIndex = (m_takeIndex + 1) % ChunkBuffers::count;
        return {m_buffers.buffer(slot), readChunk(slot)};
    }
    std::unique_lock lock(m_mutex);
    m_filled.wait(lock, [this] { return m_filledCount > 0; });
    --m_filledCount;
    const size_t slot = m_takeIndex;
    m_takeIndex = (m_takeIndex + 1) % ChunkBuffers::count;
    return {m_buffers.buffer(slot), m_sizes[slot]};
}

void ChunkReader::release()
{
    if (!m_threaded)
        return;
    {
        const std::lock_guard lock(m_mutex);
        ++m_freeCount;
    }
    m_freed.notify_one();
}
