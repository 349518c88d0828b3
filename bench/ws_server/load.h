// The client load of the benchmark: many WebSocket clients on one
// single-threaded io_context, sending frames encoded once (masked with the
// zero key, so the payload goes out as it is) and parsing only frame headers,
// so that the load generator costs as little as possible next to the server.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace ws_bench {

struct EchoResult {
    bool ok = false;
    std::string error;
    double seconds = 0;
    uint64_t messages = 0;   // echoes received in the timed window
    uint64_t bytes = 0;      // their payload
    double serverCpu = 0;    // CPU seconds the server used in the window
};

// clients connections each send window binary messages of messageSize bytes
// at once, wait for their echoes and send the next ones; counted for seconds
// after a short warm-up. The CPU time of the server process is read over the
// same window.
EchoResult runEcho(int port, pid_t server, int clients, int window, size_t messageSize, double seconds);

struct IdleResult {
    bool ok = false;
    std::string error;
    int held = 0;
    long baseKiB = 0;      // server RSS with one connection open
    long rssKiB = 0;       // server RSS with every connection open
    long peakKiB = 0;      // server peak RSS by then
    long afterKiB = 0;     // server RSS a moment after they all closed
};

// Opens connections WebSocket connections to the server process pid and keeps
// them open without traffic while its memory is read.
IdleResult runIdle(int port, int connections, pid_t server);

} // namespace ws_bench
