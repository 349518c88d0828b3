// A ByteStream over a Qt socket, for what Qt does for us: TLS (QSslSocket)
// and connections through a firewall tunnel. Qt reads ahead into its own
// buffer, bounded so that a peer sending faster than we read is held back.
#pragma once

#include "engine/src/byte_stream.h"

class QTcpSocket;

namespace corvane::engine {

class QtSocketStream final : public ByteStream {
public:
    // Takes the socket (connected, or a TLS socket about to start).
    QtSocketStream(QTcpSocket* socket, int64_t readBufferSize);
    ~QtSocketStream() override;

    int64_t read(char* data, int64_t max) override;
    bool write(const char* a, int64_t an, const char* b = nullptr, int64_t bn = 0) override;
    int64_t bytesToWrite() const override;
    int64_t bytesBuffered() const override;
    void setReadPaused(bool) override {}   // Qt stops at its buffer bound by itself
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

    QTcpSocket* socket_;
    bool connected_ = false;
    bool failed_ = false;
    bool tlsFailed_ = false;
    QString error_;
};

} // namespace corvane::engine
