#pragma once

#include "fileaccess.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// Reads a file front to back on a helper thread into a small ring of buffers while the caller
// works on the chunk before, so that copying out of the page cache overlaps the parsing. The
// helper is joined when the reader is destroyed, also when the caller stops early.
class ChunkReader
{
public:
    static constexpr size_t chunkBytes = size_t(1) << 19;

    struct Chunk
    {
        const char *data = nullptr;
        qint64 size = 0; // 0 at the end of the file, -1 after a read error
    };

    // `padding` bytes past every chunk stay readable; `file` must outlive the reader.
    ChunkReader(RegularFile &file, size_t padding);
    ~ChunkReader();
    ChunkReader(const ChunkReader &) = delete;
    ChunkReader &operator=(const ChunkReader &) = delete;

    // The next chunk in file order. Each chunk of nonzero size must be given back with
    // release() before the one after the next can be filled.
    Chunk next();
    void release();

private:
    void fill();

    static constexpr size_t bufferCount = 3;
    RegularFile &m_file;
    std::array<std::unique_ptr<char[]>, bufferCount> m_buffers;
    std::array<qint64, bufferCount> m_sizes{};
    std::mutex m_mutex;
    std::condition_variable m_filled;
    std::condition_variable m_freed;
    size_t m_filledCount = 0;
    size_t m_freeCount = bufferCount;
    size_t m_writeIndex = 0;
    size_t m_takeIndex = 0;
    bool m_stop = false;
    std::thread m_thread; // last: started once everything above is set up
};
