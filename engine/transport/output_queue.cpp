#include "engine/transport/output_queue.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace corvane::engine {

namespace {

// A small backlog starts at this and doubles chunk by chunk up to a quarter
// block; past a block's worth, or for a large write, whole blocks are used.
constexpr size_t kSmallStart = 1024;
constexpr size_t kSmallMax = OutputQueue::kBlock / 4;
// Spare blocks a thread keeps: enough for the backlog one busy connection
// turns over between two writes, little against the memory of the process.
constexpr size_t kPoolBlocks = 32;

struct BlockPool {
    std::vector<char*> blocks;
    ~BlockPool();
};
// Set once the thread's pool is gone (its thread or the process is ending):
// queues released later free their blocks.
thread_local bool t_poolGone = false;
thread_local BlockPool t_pool;

BlockPool::~BlockPool()
{
    for (char* b : blocks)
        delete[] b;
    blocks.clear();
    t_poolGone = true;
}

} // namespace

OutputQueue::OutputQueue(OutputQueue&& other) noexcept
    : chunks_(std::move(other.chunks_)), head_(std::exchange(other.head_, 0)), size_(std::exchange(other.size_, 0))
{
    other.chunks_.clear();
}

OutputQueue& OutputQueue::operator=(OutputQueue&& other) noexcept
{
    if (this != &other) {
        clear();
        chunks_ = std::move(other.chunks_);
        head_ = std::exchange(other.head_, 0);
        size_ = std::exchange(other.size_, 0);
        other.chunks_.clear();
    }
    return *this;
}

OutputQueue::Chunk OutputQueue::newChunk(size_t capacity)
{
    Chunk c;
    c.capacity = capacity;
    if (capacity == kBlock && !t_poolGone && !t_pool.blocks.empty()) {
        c.data = t_pool.blocks.back();
        t_pool.blocks.pop_back();
    } else {
        c.data = new char[capacity];
    }
    return c;
}

void OutputQueue::release(Chunk& c)
{
    if (c.data == nullptr)
        return;
    if (c.capacity == kBlock && !t_poolGone && t_pool.blocks.size() < kPoolBlocks)
        t_pool.blocks.push_back(c.data);
    else
        delete[] c.data;
    c.data = nullptr;
}

void OutputQueue::append(const char* data, int64_t n)
{
    while (n > 0) {
        Chunk* last = head_ < chunks_.size() ? &chunks_.back() : nullptr;
        if (last == nullptr || last->end == last->capacity) {
            size_t capacity = kBlock;
            if (size_t(n) < kBlock / 4 && size_ < int64_t(kBlock))
                capacity = std::max(size_t(n), last != nullptr ? std::min(last->capacity * 2, kSmallMax) : kSmallStart);
            chunks_.push_back(newChunk(capacity));
            last = &chunks_.back();
        }
        const size_t k = std::min(size_t(n), last->capacity - last->end);
        std::memcpy(last->data + last->end, data, k);
        last->end += k;
        data += k;
        n -= int64_t(k);
        size_ += int64_t(k);
    }
}

int OutputQueue::pieces(iovec* iov, int max, bool& whole) const
{
    int count = 0;
    size_t i = head_;
    for (; i < chunks_.size() && count < max; ++i, ++count) {
        const Chunk& c = chunks_[i];
        iov[count].iov_base = c.data + c.begin;
        iov[count].iov_len = c.end - c.begin;
    }
    whole = i == chunks_.size();
    return count;
}

void OutputQueue::consume(int64_t n)
{
    n = std::min(n, size_);
    size_ -= n;
    while (n > 0 && head_ < chunks_.size()) {
        Chunk& c = chunks_[head_];
        const size_t left = c.end - c.begin;
        if (size_t(n) >= left) {
            n -= int64_t(left);
            release(c);
            ++head_;
        } else {
            c.begin += size_t(n);
            n = 0;
        }
    }
    if (head_ == chunks_.size()) {
        chunks_.clear();
        chunks_.shrink_to_fit();
        head_ = 0;
    } else if (head_ > 32 && head_ * 2 > chunks_.size()) {
        chunks_.erase(chunks_.begin(), chunks_.begin() + std::ptrdiff_t(head_));
        head_ = 0;
    }
}

void OutputQueue::clear()
{
    for (size_t i = head_; i < chunks_.size(); ++i)
        release(chunks_[i]);
    chunks_.clear();
    chunks_.shrink_to_fit();
    head_ = 0;
    size_ = 0;
}

} // namespace corvane::engine
