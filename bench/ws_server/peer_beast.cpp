// Boost.Beast echo server in the shape of Beast's own asynchronous example:
// one session object per connection, async_read of a whole message into a
// flat_buffer, async_write of it back.
#include "peers.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <cstdio>
#include <memory>

namespace ws_bench {

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

class Session : public std::enable_shared_from_this<Session> {
public:
    explicit Session(tcp::socket&& socket) : ws_(std::move(socket)) {}

    void run()
    {
        ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws_.read_message_max(64 << 20);
        ws_.auto_fragment(false);   // echoes go out as one frame, as the other servers send them
        ws_.async_accept(beast::bind_front_handler(&Session::onAccept, shared_from_this()));
    }

private:
    void onAccept(beast::error_code ec)
    {
        if (!ec)
            read();
    }
    void read()
    {
        ws_.async_read(buffer_, beast::bind_front_handler(&Session::onRead, shared_from_this()));
    }
    void onRead(beast::error_code ec, size_t)
    {
        if (ec)
            return;
        ws_.text(ws_.got_text());
        ws_.async_write(buffer_.data(), beast::bind_front_handler(&Session::onWrite, shared_from_this()));
    }
    void onWrite(beast::error_code ec, size_t)
    {
        if (ec)
            return;
        buffer_.consume(buffer_.size());
        read();
    }

    websocket::stream<beast::tcp_stream> ws_;
    beast::flat_buffer buffer_;
};

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(net::io_context& io, tcp::endpoint endpoint) : io_(io), acceptor_(io)
    {
        acceptor_.open(endpoint.protocol());
        acceptor_.set_option(net::socket_base::reuse_address(true));
        acceptor_.bind(endpoint);
        acceptor_.listen(net::socket_base::max_listen_connections);
    }
    int port() const { return acceptor_.local_endpoint().port(); }
    void run() { accept(); }

private:
    void accept()
    {
        acceptor_.async_accept(net::make_strand(io_), beast::bind_front_handler(&Listener::onAccept, shared_from_this()));
    }
    void onAccept(beast::error_code ec, tcp::socket socket)
    {
        if (!ec) {
            // Echoes of pipelined messages go out one write each: without this
            // Nagle's algorithm holds all but the first for the peer's delayed ACK.
            socket.set_option(tcp::no_delay(true), ec);
            std::make_shared<Session>(std::move(socket))->run();
        }
        accept();
    }

    net::io_context& io_;
    tcp::acceptor acceptor_;
};

} // namespace

int serveBeast()
{
    net::io_context io(1);
    auto listener = std::make_shared<Listener>(io, tcp::endpoint(net::ip::address_v4::loopback(), 0));
    listener->run();
    std::printf("ready %d\n", listener->port());
    std::fflush(stdout);
    io.run();
    return 0;
}

} // namespace ws_bench
