// The byte streams under the connection core, on real loopback TCP pairs:
// output the kernel does not take waits and goes out whole and in order,
// the peer's end and reset are reported, a paused stream leaves the bytes in
// the kernel so TCP pushes back, and a Qt socket taken over loses nothing.
#include "engine/transport/raw_socket_stream.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <functional>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using corvane::engine::ByteStream;
using corvane::engine::RawSocketStream;

namespace {

bool spinUntil(const std::function<bool()>& done, int ms = 15000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Turns the event loop a while without waiting for anything in particular.
void spinFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Two connected loopback TCP descriptors (the first accepted, the second connecting).
struct TcpPair {
    int a = -1;
    int b = -1;
    TcpPair(int bufferSize = 0)
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        b = ::socket(AF_INET, SOCK_STREAM, 0);
        if (bufferSize > 0) {
            ::setsockopt(b, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof(bufferSize));
            ::setsockopt(b, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
        }
        ::connect(b, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        a = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        if (bufferSize > 0)
            ::setsockopt(a, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
    }
    ~TcpPair()
    {
        if (a >= 0)
            ::close(a);
        if (b >= 0)
            ::close(b);
    }
    int takeA() { return std::exchange(a, -1); }
};

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Reads what the descriptor has now (nonblocking); false at its end.
bool drain(int fd, QByteArray& into)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n > 0) {
            into.append(buf, n);
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

QByteArray pattern(qsizetype n, int seed)
{
    QByteArray p(n, 0);
    for (qsizetype k = 0; k < n; ++k)
        p[k] = char((k * 131 + seed) % 251);
    return p;
}

struct Recorder final : ByteStream::Listener {
    ByteStream* stream = nullptr;
    QByteArray received;
    int readable = 0;
    int written = 0;
    bool ended = false;
    bool readOnSignal = true;
    void streamReadable() override
    {
        ++readable;
        if (readOnSignal)
            readAll();
    }
    void streamWritten() override { ++written; }
    void readAll()
    {
        char buf[4096];
        for (;;) {
            const int64_t n = stream->read(buf, sizeof(buf));
            if (n > 0) {
                received.append(buf, qsizetype(n));
                continue;
            }
            ended = ended || n < 0;
            return;
        }
    }
};

} // namespace

// What the kernel does not take waits in the stream and leaves whole and in
// order, header and payload pieces alike; the owner hears when it drains.
TEST(RawSocketStream, UnsentOutputWaitsAndDrainsInOrder)
{
    TcpPair pair(16 * 1024);
    RawSocketStream stream(pair.takeA());
    Recorder rec;
    rec.stream = &stream;
    stream.setListener(&rec);
    setNonBlocking(pair.b);

    QByteArray expected;
    bool sawQueue = false;
    for (int k = 0; k < 200; ++k) {
        const QByteArray head = pattern(2 + k % 13, k);
        const QByteArray body = pattern(k % 3 == 0 ? 0 : 1000 * (k % 97), k + 7);
        ASSERT_TRUE(stream.write(head.constData(), head.size(), body.constData(), body.size()));
        expected += head;
        expected += body;
        sawQueue = sawQueue || stream.bytesToWrite() > 0;
    }
    EXPECT_TRUE(sawQueue) << "the peer's small buffer should have left output waiting";
    QByteArray got;
    ASSERT_TRUE(spinUntil([&] {
        drain(pair.b, got);
        return got.size() >= expected.size();
    }));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(stream.bytesToWrite(), 0);
    EXPECT_GT(rec.written, 0);
}

// The peer's FIN is seen as soon as it comes, after the bytes before it; a
// reset ends the stream too.
TEST(RawSocketStream, PeerEndAndResetAreReported)
{
    {
        TcpPair pair;
        RawSocketStream stream(pair.takeA());
        Recorder rec;
        rec.stream = &stream;
        stream.setListener(&rec);
        ASSERT_EQ(::send(pair.b, "last words", 10, 0), 10);
        ::shutdown(pair.b, SHUT_WR);
        ASSERT_TRUE(spinUntil([&] { return rec.ended; }));
        EXPECT_EQ(rec.received, QByteArray("last words"));
        EXPECT_EQ(stream.status(), ByteStream::Status::Ended);
        // Our side can still answer after the peer's FIN.
        ASSERT_TRUE(stream.write("bye", 3));
        QByteArray got;
        ASSERT_TRUE(spinUntil([&] {
            drain(pair.b, got);
            return got.size() >= 3;
        }));
        EXPECT_EQ(got, QByteArray("bye"));
    }
    {
        TcpPair pair;
        RawSocketStream stream(pair.takeA());
        Recorder rec;
        rec.stream = &stream;
        stream.setListener(&rec);
        const linger hard{1, 0};
        ::setsockopt(pair.b, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        ::close(std::exchange(pair.b, -1));
        ASSERT_TRUE(spinUntil([&] { return rec.ended; }));
        EXPECT_NE(stream.status(), ByteStream::Status::Open);
        EXPECT_FALSE(stream.errorText().isEmpty());
    }
}

// Paused, the stream reads nothing and is not called: the bytes stay in the
// kernel until its buffers are full and the sender is held back. Resumed,
// everything arrives.
TEST(RawSocketStream, PauseLeavesBytesInTheKernelSoTcpPushesBack)
{
    TcpPair pair(32 * 1024);
    RawSocketStream stream(pair.takeA());
    Recorder rec;
    rec.stream = &stream;
    stream.setListener(&rec);
    stream.setReadPaused(true);
    setNonBlocking(pair.b);

    const QByteArray chunk = pattern(8192, 3);
    QByteArray sent;
    bool heldBack = false;
    for (int k = 0; k < 64 * 1024 && !heldBack; ++k) {   // at most 512 MiB
        const ssize_t n = ::send(pair.b, chunk.constData(), size_t(chunk.size()), MSG_DONTWAIT);
        if (n < 0) {
            ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
            spinFor(20);
            heldBack = ::send(pair.b, chunk.constData(), 1, MSG_DONTWAIT) < 0;
            if (!heldBack)
                sent.append(chunk.constData(), 1);
            continue;
        }
        sent.append(chunk.constData(), n);
    }
    EXPECT_TRUE(heldBack);
    EXPECT_EQ(rec.readable, 0);
    EXPECT_TRUE(rec.received.isEmpty());

    stream.setReadPaused(false);
    ASSERT_TRUE(spinUntil([&] { return rec.received.size() >= sent.size(); }));
    EXPECT_EQ(rec.received, sent);
}

// Output still waiting when the stream is closed after a flush reaches the
// peer in full, then the end.
TEST(RawSocketStream, CloseAfterFlushDeliversWhatWasQueued)
{
    TcpPair pair(16 * 1024);
    auto stream = std::make_unique<RawSocketStream>(pair.takeA());
    Recorder rec;
    rec.stream = stream.get();
    stream->setListener(&rec);
    const QByteArray data = pattern(4 << 20, 11);
    ASSERT_TRUE(stream->write(data.constData(), data.size()));
    ASSERT_GT(stream->bytesToWrite(), 0);
    stream->closeAfterFlush(30000);
    stream.reset();

    setNonBlocking(pair.b);
    QByteArray got;
    bool open = true;
    ASSERT_TRUE(spinUntil([&] {
        open = drain(pair.b, got);
        return !open;
    }));
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

// A connected Qt socket that already read ahead gives up its descriptor
// without losing those bytes; what follows comes through the stream, and the
// stream's output reaches the peer.
TEST(RawSocketStream, AdoptingAQtSocketKeepsWhatQtReadAhead)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(spinUntil([&] { return server.hasPendingConnections(); }));
    QTcpSocket* qt = server.nextPendingConnection();
    ASSERT_TRUE(spinUntil([&] { return peer.state() == QAbstractSocket::ConnectedState; }));

    peer.write("read ahead by Qt;");
    ASSERT_TRUE(spinUntil([&] { return qt->bytesAvailable() > 0; }));
    qt->setParent(nullptr);
    std::unique_ptr<RawSocketStream> stream = RawSocketStream::adopt(qt);
    ASSERT_NE(stream, nullptr);
    Recorder rec;
    rec.stream = stream.get();
    stream->setListener(&rec);
    EXPECT_EQ(stream->peerPort(), peer.localPort());

    peer.write(" then the rest");
    ASSERT_TRUE(spinUntil([&] { return rec.received.size() >= 31; }));
    EXPECT_EQ(rec.received, QByteArray("read ahead by Qt; then the rest"));

    ASSERT_TRUE(stream->write("answer", 6));
    ASSERT_TRUE(spinUntil([&] { return peer.bytesAvailable() >= 6; }));
    EXPECT_EQ(peer.readAll(), QByteArray("answer"));

    peer.disconnectFromHost();
    ASSERT_TRUE(spinUntil([&] { return rec.ended; }));
}

// Corked, answers after the first are held and leave together in order, a
// large one pushing the held ones out before it; and held bytes still go out
// when an event loop runs before the stream is uncorked (a handler waiting
// for the peer's next message must not wait forever for its own answer).
TEST(RawSocketStream, CorkedWritesLeaveInOrderAlsoBeforeUncorking)
{
    TcpPair pair;
    RawSocketStream stream(pair.takeA());
    Recorder rec;
    rec.stream = &stream;
    stream.setListener(&rec);
    setNonBlocking(pair.b);

    stream.setCorked(true);
    const QByteArray big = pattern(200 * 1024, 5);
    ASSERT_TRUE(stream.write("one;", 4));
    ASSERT_TRUE(stream.write("two;", 4, "2;", 2));
    EXPECT_GT(stream.bytesToWrite(), 0);   // held
    ASSERT_TRUE(stream.write(big.constData(), big.size()));
    ASSERT_TRUE(stream.write("three;", 6));
    QByteArray got;
    ASSERT_TRUE(spinUntil([&] {
        drain(pair.b, got);
        return got.size() >= 4 + 6 + big.size() + 6;
    }));
    EXPECT_TRUE(got == "one;two;2;" + big + "three;");
    stream.setCorked(false);
    EXPECT_EQ(stream.bytesToWrite(), 0);

    stream.setCorked(true);
    ASSERT_TRUE(stream.write("a", 1));
    ASSERT_TRUE(stream.write("b", 1));
    stream.setCorked(false);
    got.clear();
    ASSERT_TRUE(spinUntil([&] {
        drain(pair.b, got);
        return got.size() >= 2;
    }));
    EXPECT_EQ(got, QByteArray("ab"));
}

// A peer that resets the connection while output waits for it ends the
// stream, and the owner hears of it even with reading paused.
TEST(RawSocketStream, ResetWhileOutputWaitsIsReportedEvenWhenPaused)
{
    TcpPair pair(16 * 1024);
    RawSocketStream stream(pair.takeA());
    Recorder rec;
    rec.stream = &stream;
    stream.setListener(&rec);
    stream.setReadPaused(true);
    const QByteArray data = pattern(4 << 20, 9);
    ASSERT_TRUE(stream.write(data.constData(), data.size()));
    ASSERT_GT(stream.bytesToWrite(), 0);

    const linger hard{1, 0};
    ::setsockopt(pair.b, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    ::close(std::exchange(pair.b, -1));
    ASSERT_TRUE(spinUntil([&] { return rec.ended; }));
    EXPECT_NE(stream.status(), ByteStream::Status::Open);
    EXPECT_TRUE(rec.received.isEmpty());
}

// Output that waited for the peer and left while a batch was uncorked (not
// through the write notifier) is still reported as written: an owner that
// waits for its queue to drain before it sends again would wait forever.
TEST(RawSocketStream, BacklogDrainedOnUncorkIsReportedAsWritten)
{
    TcpPair pair(16 * 1024);
    RawSocketStream stream(pair.takeA());
    Recorder rec;
    rec.stream = &stream;
    stream.setListener(&rec);
    setNonBlocking(pair.b);
    const QByteArray data = pattern(1 << 20, 13);
    ASSERT_TRUE(stream.write(data.constData(), data.size()));
    ASSERT_GT(stream.bytesToWrite(), 0);

    // Batches come and go without the event loop turning; the peer reads.
    QByteArray got;
    const int writtenBefore = rec.written;
    for (int k = 0; k < 100000 && stream.bytesToWrite() > 0; ++k) {
        drain(pair.b, got);
        stream.setCorked(true);
        stream.setCorked(false);
    }
    ASSERT_EQ(stream.bytesToWrite(), 0);
    ASSERT_TRUE(spinUntil([&] { return rec.written > writtenBefore; }));
    ASSERT_TRUE(spinUntil([&] {
        drain(pair.b, got);
        return got.size() >= data.size();
    }));
    EXPECT_TRUE(got == data);
}

// Closed after a flush when part of the queue already went out (whole
// pieces and part of the next): the rest, and only the rest, reaches the peer.
TEST(RawSocketStream, CloseAfterFlushMidQueueDeliversExactlyTheRest)
{
    TcpPair pair(16 * 1024);
    auto stream = std::make_unique<RawSocketStream>(pair.takeA());
    Recorder rec;
    rec.stream = stream.get();
    stream->setListener(&rec);
    setNonBlocking(pair.b);
    QByteArray expected;
    for (int k = 0; k < 40; ++k) {
        const QByteArray piece = pattern(100 * 1000 + k, k);
        ASSERT_TRUE(stream->write(piece.constData(), piece.size()));
        expected += piece;
    }
    // The peer takes part of it, so the queue's head moves past whole pieces.
    QByteArray got;
    const int64_t full = stream->bytesToWrite();
    ASSERT_TRUE(spinUntil([&] {
        drain(pair.b, got);
        return stream->bytesToWrite() < full - 1000 * 1000;
    }));
    ASSERT_GT(stream->bytesToWrite(), 0);
    stream->closeAfterFlush(30000);
    stream.reset();

    ASSERT_TRUE(spinUntil([&] { return !drain(pair.b, got); }));
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}
