// Output a stream could not hand to the kernel yet, oldest first. Large
// backlogs are kept in fixed blocks that go back to a small per-thread pool
// once sent: a connection whose peer reads a little slower than it is fed
// (a proxy's forward side, a busy echo) writes into memory it used a moment
// ago instead of allocating, and faulting in, fresh pages for every write.
// Small backlogs take small chunks, and an empty queue holds no memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <sys/uio.h>

namespace corvane::engine {

class OutputQueue {
public:
    OutputQueue() = default;
    OutputQueue(OutputQueue&& other) noexcept;
    OutputQueue& operator=(OutputQueue&& other) noexcept;
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;
    ~OutputQueue() { clear(); }

    int64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void append(const char* data, int64_t n);
    // Up to max pieces of the queued bytes, oldest first; whole tells whether
    // they hold every queued byte. Returns the number of pieces.
    int pieces(iovec* iov, int max, bool& whole) const;
    // Drops the first n bytes (they were sent).
    void consume(int64_t n);
    void clear();

    // Bytes of one pooled block.
    static constexpr size_t kBlock = 64 * 1024;

private:
    struct Chunk {
        char* data = nullptr;
        size_t capacity = 0;
        size_t begin = 0;   // first unsent byte
        size_t end = 0;     // one past the last queued byte
    };
    static Chunk newChunk(size_t capacity);
    static void release(Chunk& c);

    std::vector<Chunk> chunks_;
    size_t head_ = 0;     // chunks before this one are sent and released
    int64_t size_ = 0;
};

} // namespace corvane::engine
