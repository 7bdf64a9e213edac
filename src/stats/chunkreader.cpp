#include "chunkreader.h"

ChunkReader::ChunkReader(RegularFile &file, size_t padding)
    : m_file(file)
{
    for (auto &buffer : m_buffers)
        buffer = std::make_unique<char[]>(chunkBytes + padding);
    m_thread = std::thread([this] { fill(); });
}

ChunkReader::~ChunkReader()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_freed.notify_one();
    m_thread.join();
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
            m_writeIndex = (m_writeIndex + 1) % bufferCount;
        }
        const qint64 size = m_file.read(m_buffers[slot].get(), qint64(chunkBytes));
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
    std::unique_lock lock(m_mutex);
    m_filled.wait(lock, [this] { return m_filledCount > 0; });
    --m_filledCount;
    const size_t slot = m_takeIndex;
    m_takeIndex = (m_takeIndex + 1) % bufferCount;
    return {m_buffers[slot].get(), m_sizes[slot]};
}

void ChunkReader::release()
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_freeCount;
    }
    m_freed.notify_one();
}
