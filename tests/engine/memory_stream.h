// Two byte streams joined in memory, for testing a connection without sockets
// or timing: bytes written on one end wait until the test pumps them across,
// in pieces of the size it chooses, and either end can be made to fail,
// to end, or to reset at any chosen point.
#pragma once

#include "engine/transport/byte_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace engine_test {

using corvane::engine::ByteStream;

class MemoryStream final : public ByteStream {
public:
    // Both ends share the link; an end that goes away leaves the other one ended.
    struct Link {
        MemoryStream* end[2] = {nullptr, nullptr};
    };

    static std::pair<std::unique_ptr<MemoryStream>, std::unique_ptr<MemoryStream>> pair()
    {
        auto link = std::make_shared<Link>();
        std::unique_ptr<MemoryStream> a(new MemoryStream(link, 0));
        std::unique_ptr<MemoryStream> b(new MemoryStream(link, 1));
        return {std::move(a), std::move(b)};
    }

    ~MemoryStream() override
    {
        link_->end[side_] = nullptr;
        if (MemoryStream* peer = other())
            peer->peerGone_ = true;
    }

    // ---- what the test controls -------------------------------------------

    // At most this many bytes per read call, so input arrives split.
    size_t readPiece = size_t(-1);
    // Bytes in flight towards this end, not yet read.
    const std::string& pending() const { return inbox_; }
    // Everything this end's owner wrote so far (also after the peer left).
    std::string written;

    // The next read reports the end (FIN or reset) once what came before is read.
    void endInput() { inputEnded_ = true; }
    // From now on every call fails, as a broken connection does.
    void breakStream(const QString& why)
    {
        status_ = Status::Failed;
        error_ = why;
    }
    bool closed() const { return closed_; }
    const std::shared_ptr<Link>& link() const { return link_; }
    bool aborted() const { return aborted_; }

    // Delivers one round of notifications to the owner: readable when input
    // waits (or the input ended) and reading is not paused. Returns true when
    // it called the owner.
    bool notify()
    {
        if (!listener_ || closed_)
            return false;
        const bool input = !inbox_.empty() || endReported() || status_ != Status::Open;
        if (!input || paused_)
            return false;
        listener_->streamReadable();   // may destroy this end
        return true;
    }

    // ---- ByteStream ---------------------------------------------------------

    int64_t read(char* data, int64_t max) override
    {
        if (status_ == Status::Failed)
            return -1;
        if (inbox_.empty()) {
            if (endReported()) {
                if (status_ == Status::Open)
                    status_ = Status::Ended;
                return -1;
            }
            return 0;
        }
        const size_t n = std::min({size_t(max), inbox_.size(), readPiece});
        std::memcpy(data, inbox_.data(), n);
        inbox_.erase(0, n);
        return int64_t(n);
    }

    bool write(const char* a, int64_t an, const char* b = nullptr, int64_t bn = 0) override
    {
        if (status_ == Status::Failed || closed_)
            return false;
        std::string bytes(a, size_t(an));
        if (b && bn > 0)
            bytes.append(b, size_t(bn));
        written += bytes;
        if (MemoryStream* peer = other())
            peer->inbox_ += bytes;
        return true;
    }

    int64_t bytesToWrite() const override { return 0; }
    int64_t bytesBuffered() const override { return int64_t(inbox_.size()); }
    void setReadPaused(bool paused) override { paused_ = paused; }
    bool readPaused() const { return paused_; }
    Status status() const override { return status_; }
    QString errorText() const override { return error_; }

    void closeAfterFlush(int) override { close(false); }
    void abort() override { close(true); }

    QHostAddress peerAddress() const override { return QHostAddress(QHostAddress::LocalHost); }
    uint16_t peerPort() const override { return uint16_t(40000 + side_); }
    QHostAddress localAddress() const override { return QHostAddress(QHostAddress::LocalHost); }
    uint16_t localPort() const override { return uint16_t(40001 - side_); }

private:
    MemoryStream(std::shared_ptr<Link> link, int side) : link_(std::move(link)), side_(side)
    {
        link_->end[side_] = this;
    }
    MemoryStream* other() const { return link_->end[1 - side_]; }
    bool endReported() const { return inputEnded_ || peerGone_; }
    void close(bool reset)
    {
        closed_ = true;
        aborted_ = reset;
        listener_ = nullptr;
        if (MemoryStream* peer = other())
            peer->inputEnded_ = true;
    }

    std::shared_ptr<Link> link_;
    int side_;
    std::string inbox_;
    Status status_ = Status::Open;
    QString error_;
    bool paused_ = false;
    bool inputEnded_ = false;
    bool peerGone_ = false;
    bool closed_ = false;
    bool aborted_ = false;
};

// Turns notifications on both ends of a link until neither has anything to
// say, or `rounds` pass (a loop that never settles is a fault the test sees).
// Ends may go away meanwhile: their owners release them.
inline bool settle(const std::shared_ptr<MemoryStream::Link>& link, int rounds = 1000000)
{
    for (int k = 0; k < rounds; ++k) {
        bool any = false;
        for (int side = 0; side < 2; ++side)
            if (MemoryStream* end = link->end[side])
                any = end->notify() || any;
        if (!any)
            return true;
    }
    return false;
}

} // namespace engine_test
