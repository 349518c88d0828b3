// A ByteStream over a Qt socket, for what Qt does for us: TLS (QSslSocket)
// and connections through a firewall tunnel. Qt reads ahead into its own
// buffer, bounded so that a peer sending faster than we read is held back.
#pragma once

#include "engine/transport/byte_stream.h"
#include "engine/transport/peer_watch.h"

class QTcpSocket;

namespace corvane::engine {

class QtSocketStream final : public ByteStream, private PeerGoneListener {
public:
    // Takes the socket (connected, or a TLS socket about to start).
    QtSocketStream(QTcpSocket* socket, int64_t readBufferSize);
    ~QtSocketStream() override;

    int64_t read(char* data, int64_t max) override;
    bool write(const char* a, int64_t an, const char* b = nullptr, int64_t bn = 0) override;
    int64_t bytesToWrite() const override;
    int64_t bytesBuffered() const override;
    // Qt stops at its buffer bound by itself; while the owner does not read,
    // Qt may not either, so the peer's end is watched for here.
    void setReadPaused(bool paused) override;
    Status status() const override;
    QString errorText() const override;
    bool tlsFailed() const override;
    void closeAfterFlush(int timeoutMs) override;
    void abort() override;
    QHostAddress peerAddress() const override;
    uint16_t peerPort() const override;
    QHostAddress localAddress() const override;
    uint16_t localPort() const override;
    QTcpSocket* qtSocket() const override { return socket_; }

private:
    void listenerChanged() override;
    void onError();
    void peerGone() override;
    void unwatch();

    QTcpSocket* socket_;
    bool connected_ = false;
    bool failed_ = false;
    bool tlsFailed_ = false;
    bool peerGone_ = false;   // reset while paused: what Qt holds is dropped
    int watchedFd_ = -1;
    QString error_;
};

} // namespace corvane::engine
