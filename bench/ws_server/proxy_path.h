// The proxy scenario: a fixed amount of data from a WebSocket client through
// a WebSocket-to-TCP proxy into a TCP sink, against the same data written
// straight to the sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace ws_bench {

// Accepts TCP connections on a loopback port and counts every byte it reads.
class TcpSink {
public:
    TcpSink();
    ~TcpSink();
    int port() const { return port_; }
    uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
    // Waits until the count reaches target; false after timeoutMs.
    bool waitFor(uint64_t target, int timeoutMs) const;

private:
    void run();
    int fd_ = -1;
    int port_ = 0;
    std::atomic<uint64_t> bytes_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct PathResult {
    bool ok = false;
    std::string error;
    double seconds = 0;
};

// total bytes over one TCP connection straight into the sink.
PathResult sendDirect(TcpSink& sink, uint64_t total);
// total bytes as binary messages of messageSize over a WebSocket connection
// to port, timed until the sink has them all.
PathResult sendThroughProxy(TcpSink& sink, int port, uint64_t total, size_t messageSize);

} // namespace ws_bench
