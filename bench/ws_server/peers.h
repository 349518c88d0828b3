// The servers of the benchmark, each run as a process of its own
// ("ws_server --serve <name>"). Each listens on a loopback port, prints
// "ready <port>" and echoes every message back as it came (binary or text).
#pragma once

namespace ws_bench {

int serveBeast();                 // Boost.Beast, asynchronous, one io_context on one thread
int serveQt(int argc, char** argv);   // Qt's QWebSocketServer
// The engine through its C interface (libcorvanews20.so): the WebSocket server
// echoing, or the WebSocket proxy forwarding to forwardPort.
int serveEngine(int argc, char** argv);
int serveEngineProxy(int argc, char** argv, int forwardPort);

} // namespace ws_bench
