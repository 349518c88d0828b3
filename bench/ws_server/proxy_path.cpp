#include "proxy_path.h"

#include "ws_frames.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace ws_bench {

namespace {

using Clock = std::chrono::steady_clock;

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool sendAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

TcpSink::TcpSink()
{
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 64);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

TcpSink::~TcpSink()
{
    stop_ = true;
    thread_.join();
    ::close(fd_);
}

// One thread polls the listening socket and every accepted connection: the
// sink must never be what limits a path.
void TcpSink::run()
{
    std::vector<pollfd> fds{{fd_, POLLIN, 0}};
    std::vector<char> buffer(1 << 20);
    while (!stop_) {
        if (::poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        for (size_t k = fds.size(); k-- > 0;) {
            if (fds[k].revents == 0)
                continue;
            if (fds[k].fd == fd_) {
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c >= 0)
                    fds.push_back({c, POLLIN, 0});
                continue;
            }
            const ssize_t n = ::recv(fds[k].fd, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                bytes_.fetch_add(uint64_t(n), std::memory_order_relaxed);
            } else {
                ::close(fds[k].fd);
                fds.erase(fds.begin() + std::ptrdiff_t(k));
            }
        }
    }
    for (size_t k = 1; k < fds.size(); ++k)
        ::close(fds[k].fd);
}

bool TcpSink::waitFor(uint64_t target, int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes() < target) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

PathResult sendDirect(TcpSink& sink, uint64_t total)
{
    PathResult r;
    const std::string block(1 << 20, 'd');
    const uint64_t target = sink.bytes() + total;
    const auto start = Clock::now();
    const int fd = connectTo(sink.port());
    if (fd < 0) {
        r.error = "cannot connect to the sink";
        return r;
    }
    bool ok = true;
    for (uint64_t sent = 0; ok && sent < total; sent += block.size())
        ok = sendAll(fd, block.data(), size_t(std::min<uint64_t>(block.size(), total - sent)));
    ok = ok && sink.waitFor(target, 120000);
    r.seconds = since(start);
    ::close(fd);
    r.ok = ok;
    if (!ok)
        r.error = "the sink did not get every byte";
    return r;
}

PathResult sendThroughProxy(TcpSink& sink, int port, uint64_t total, size_t messageSize)
{
    PathResult r;
    const std::string frame = clientFrame(0x2, std::string(messageSize, 'p'));
    const uint64_t target = sink.bytes() + total;
    const auto start = Clock::now();
    const int fd = connectTo(port);
    if (fd < 0) {
        r.error = "cannot connect to the proxy";
        return r;
    }
    const std::string request = handshakeRequest("/");
    std::string head;
    bool ok = sendAll(fd, request.data(), request.size());
    char buf[4096];
    while (ok && head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        ok = n > 0;
        if (ok)
            head.append(buf, size_t(n));
    }
    if (!ok || head.compare(0, 12, "HTTP/1.1 101") != 0) {
        ::close(fd);
        r.error = "handshake refused: " + head.substr(0, head.find('\r'));
        return r;
    }
    for (uint64_t sent = 0; ok && sent < total; sent += messageSize)
        ok = sendAll(fd, frame.data(), frame.size());
    ok = ok && sink.waitFor(target, 600000);
    r.seconds = since(start);
    const std::string close = clientFrame(0x8, std::string("\x03\xe8", 2));
    sendAll(fd, close.data(), close.size());
    ::close(fd);
    r.ok = ok;
    if (!ok)
        r.error = "the sink did not get every byte";
    return r;
}

} // namespace ws_bench
