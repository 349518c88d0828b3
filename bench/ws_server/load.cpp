#include "load.h"

#include "process.h"
#include "ws_frames.h"

#include <boost/asio.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace ws_bench {

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// One client connection: opens with the handshake, then reports complete
// messages it receives and sends what it is told to.
class Client : public std::enable_shared_from_this<Client> {
public:
    Client(net::io_context& io, size_t bufferSize) : socket_(io), buffer_(bufferSize) {}

    std::function<void(bool ok)> onOpen;
    std::function<void()> onMessage;
    std::function<void()> onWritten;
    std::function<void()> onEnd;

    void open(int port)
    {
        auto self = shared_from_this();
        socket_.async_connect({net::ip::address_v4::loopback(), uint16_t(port)}, [self](boost::system::error_code ec) {
            if (ec)
                return self->opened(false);
            self->socket_.set_option(tcp::no_delay(true));
            net::async_write(self->socket_, net::buffer(request()),
                             [self](boost::system::error_code ec, size_t) {
                                 if (ec)
                                     return self->opened(false);
                                 self->readHead();
                             });
        });
    }

    void send(const std::string& frame)
    {
        auto self = shared_from_this();
        net::async_write(socket_, net::buffer(frame), [self](boost::system::error_code ec, size_t) {
            if (ec)
                return self->end();
            if (self->onWritten)
                self->onWritten();
        });
    }

    void close()
    {
        boost::system::error_code ignored;
        socket_.close(ignored);
    }

private:
    static const std::string& request()
    {
        static const std::string r = handshakeRequest("/echo");
        return r;
    }

    void opened(bool ok)
    {
        if (onOpen) {
            auto f = std::move(onOpen);
            onOpen = nullptr;
            f(ok);
        }
    }

    void readHead()
    {
        auto self = shared_from_this();
        socket_.async_read_some(net::buffer(buffer_), [self](boost::system::error_code ec, size_t n) {
            if (ec)
                return self->opened(false);
            self->head_.append(reinterpret_cast<const char*>(self->buffer_.data()), n);
            const size_t end = self->head_.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (self->head_.size() > 16384)
                    return self->opened(false);
                return self->readHead();
            }
            if (self->head_.compare(0, 12, "HTTP/1.1 101") != 0)
                return self->opened(false);
            const std::string rest = self->head_.substr(end + 4);
            self->head_.clear();
            self->head_.shrink_to_fit();
            self->opened(true);
            self->deliver(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
            self->readFrames();
        });
    }

    void readFrames()
    {
        auto self = shared_from_this();
        socket_.async_read_some(net::buffer(buffer_), [self](boost::system::error_code ec, size_t n) {
            if (ec)
                return self->end();
            self->deliver(self->buffer_.data(), n);
            if (!self->frames_.closed)
                self->readFrames();
        });
    }

    void deliver(const uint8_t* p, size_t n)
    {
        const int done = frames_.feed(p, n);
        for (int k = 0; k < done; ++k)
            if (onMessage)
                onMessage();
        if (frames_.closed)
            end();
    }

    void end()
    {
        if (onEnd) {
            auto f = std::move(onEnd);
            onEnd = nullptr;
            f();
        }
    }

    tcp::socket socket_;
    std::string head_;
    std::vector<uint8_t> buffer_;
    FrameFollower frames_;
};

} // namespace

EchoResult runEcho(int port, pid_t server, int clients, int window, size_t messageSize, double seconds)
{
    EchoResult result;
    net::io_context io(1);
    std::string frame;
    for (int k = 0; k < window; ++k)
        frame += clientFrame(0x2, std::string(messageSize, 'x'));
    std::vector<std::shared_ptr<Client>> all;
    int opened = 0, failed = 0, ended = 0;
    bool running = false;
    uint64_t received = 0;

    struct Turn {
        bool writing = false;
        int waiting = 0;   // echoes of the last batch still to come
    };
    std::vector<Turn> turns(static_cast<size_t>(clients));
    auto next = [&](size_t k) {
        Turn& t = turns[k];
        if (running && !t.writing && t.waiting == 0) {
            t.writing = true;
            t.waiting = window;
            all[k]->send(frame);
        }
    };
    for (int k = 0; k < clients; ++k) {
        auto c = std::make_shared<Client>(io, 64 << 10);
        const size_t i = size_t(k);
        c->onOpen = [&](bool ok) { ok ? ++opened : ++failed; };
        c->onMessage = [&, i] {
            ++received;
            --turns[i].waiting;
            next(i);
        };
        c->onWritten = [&, i] {
            turns[i].writing = false;
            next(i);
        };
        c->onEnd = [&] { ++ended; };
        all.push_back(c);
        c->open(port);
    }
    const auto openDeadline = Clock::now() + std::chrono::seconds(30);
    while (opened + failed < clients && Clock::now() < openDeadline)
        io.run_one_for(std::chrono::milliseconds(100));
    if (opened < clients) {
        result.error = std::to_string(opened) + " of " + std::to_string(clients) + " clients connected";
        return result;
    }

    running = true;
    for (size_t k = 0; k < all.size(); ++k)
        next(k);
    // Warm-up, then the timed window.
    const auto warm = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < warm && ended == 0)
        io.run_for(std::chrono::milliseconds(20));
    const uint64_t before = received;
    const double cpuBefore = cpuSeconds(server);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end && ended == 0)
        io.run_for(std::chrono::milliseconds(20));
    const auto stop = Clock::now();
    const uint64_t after = received;
    result.serverCpu = cpuSeconds(server) - cpuBefore;
    running = false;
    if (ended > 0) {
        result.error = std::to_string(ended) + " clients lost their connection";
        return result;
    }
    for (auto& c : all)
        c->close();
    io.run_for(std::chrono::milliseconds(200));
    result.ok = true;
    result.seconds = std::chrono::duration<double>(stop - start).count();
    result.messages = after - before;
    result.bytes = result.messages * messageSize;
    return result;
}

IdleResult runIdle(int port, int connections, pid_t server)
{
    IdleResult result;
    net::io_context io(1);
    std::vector<std::shared_ptr<Client>> all;
    all.reserve(size_t(connections) + 1);
    int opened = 0, failed = 0;
    auto openOne = [&] {
        auto c = std::make_shared<Client>(io, 512);
        c->onOpen = [&](bool ok) { ok ? ++opened : ++failed; };
        all.push_back(c);
        c->open(port);
    };

    // One connection first: what a server sets up on its first connection is
    // not a per-connection cost.
    openOne();
    const auto firstDeadline = Clock::now() + std::chrono::seconds(10);
    while (opened + failed < 1 && Clock::now() < firstDeadline)
        io.run_one_for(std::chrono::milliseconds(100));
    if (opened != 1) {
        result.error = "the first connection failed";
        return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    result.baseKiB = memoryOf(server).rssKiB;

    // A bounded number of handshakes in flight, so that no listen backlog
    // overflows and turns the run into a test of SYN retries.
    constexpr int kInFlight = 64;
    int started = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(180);
    while (opened + failed < connections + 1 && Clock::now() < deadline) {
        while (started < connections && started - (opened + failed - 1) < kInFlight) {
            openOne();
            ++started;
        }
        io.run_one_for(std::chrono::milliseconds(100));
    }
    // Let the server settle what it does after the handshake.
    io.run_for(std::chrono::milliseconds(500));
    const Memory held = memoryOf(server);
    result.held = opened - 1;
    result.rssKiB = held.rssKiB;
    result.peakKiB = held.hwmKiB;
    for (auto& c : all)
        c->close();
    all.clear();
    io.run_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    result.afterKiB = memoryOf(server).rssKiB;
    if (failed > 0 || result.held < connections) {
        result.error = std::to_string(result.held) + " of " + std::to_string(connections) + " connections opened";
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace ws_bench
