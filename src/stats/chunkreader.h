#pragma once

#include "fileaccess.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// The read buffers of one cycle, allocated once and lent to each file's ChunkReader: a file
// costs no allocation and no zero-filling of its own.
class ChunkBuffers
{
public:
    static constexpr size_t chunkBytes = size_t(1) << 19;
    static constexpr size_t count = 3;

    explicit ChunkBuffers(size_t padding);
    Q_DISABLE_COPY_MOVE(ChunkBuffers)

    char *buffer(size_t index) const { return m_buffers[index].get(); }

private:
    std::array<std::unique_ptr<char[]>, count> m_buffers;
};

// Reads at most `limit` bytes of a file from its current position, in chunks. A read longer than
// two chunks runs on a helper thread that fills the next chunk while the caller parses the one
// before; a shorter one is read in place, so small files start no thread. The helper is joined
// when the reader is destroyed, also when the caller stops early.
class ChunkReader
{
public:
    struct Chunk
    {
        const char *data = nullptr;
        qint64 size = 0; // 0 at the end, -1 after a read error
    };

    // `file` and `buffers` must outlive the reader.
    ChunkReader(RegularFile &file, qint64 limit, const ChunkBuffers &buffers);
    ~ChunkReader();
    Q_DISABLE_COPY_MOVE(ChunkReader)

    // The next chunk in file order. Each chunk of nonzero size must be given back with
    // release() before the one after the next can be filled.
    Chunk next();
    void release();

private:
    qint64 readChunk(size_t slot);
    void fill();

    RegularFile &m_file;
    const ChunkBuffers &m_buffers;
    qint64 m_remaining;
    const bool m_threaded;
    std::array<qint64, ChunkBuffers::count> m_sizes{};
    std::mutex m_mutex;
    std::condition_variable m_filled;
    std::condition_variable m_freed;
    size_t m_filledCount = 0;
    size_t m_freeCount = ChunkBuffers::count;
    size_t m_writeIndex = 0;
    size_t m_takeIndex = 0;
    bool m_stop = false;
    std::thread m_thread; // last: started once everything above is set up
};
