// A ByteStream over a plain nonblocking TCP descriptor. Reads go from the
// kernel straight into the caller's buffer; writes go straight to the kernel
// (header and payload in one call, behind what is queued from before) and
// only what it does not take is copied into a queue. An idle stream holds one
// socket notifier and no buffer.
#pragma once

#include "engine/transport/byte_stream.h"
#include "engine/transport/output_queue.h"
#include "engine/transport/peer_watch.h"

#include <QByteArray>

#include <QSocketNotifier>

namespace corvane::engine {

class RawSocketStream;

// A notifier that knows its stream until the stream lets go of it; it may
// outlive the stream for a moment when its own signal is on the stack.
class OwnedNotifier final : public QSocketNotifier {
public:
    OwnedNotifier(int fd, Type type, RawSocketStream* stream) : QSocketNotifier(qintptr(fd), type), owner(stream) {}
    RawSocketStream* owner;
};

class RawSocketStream final : public ByteStream, private PeerGoneListener {
public:
    // Takes a connected descriptor (made nonblocking here). preRead holds
    // bytes that arrived before the stream existed; they are read first.
    explicit RawSocketStream(int descriptor, QByteArray preRead = {});
    ~RawSocketStream() override;

    // Takes over a connected plain Qt socket: what Qt had read ahead becomes
    // the pre-read, the descriptor is duplicated and the Qt socket released.
    // Null (the socket untouched) when Qt still holds unsent output, the
    // socket is not connected, runs TLS or goes through a Qt proxy. A
    // QSslSocket in unencrypted mode is taken: the caller says no TLS follows.
    static std::unique_ptr<RawSocketStream> adopt(QAbstractSocket* socket);

    int64_t read(char* data, int64_t max) override;
    bool write(const char* a, int64_t an, const char* b = nullptr, int64_t bn = 0) override;
    int64_t bytesToWrite() const override { return out_.size(); }
    int64_t bytesBuffered() const override { return preRead_.size() - preReadPos_; }
    void setReadPaused(bool paused) override;
    void setCorked(bool corked) override;
    Status status() const override { return status_; }
    QString errorText() const override;
    void closeAfterFlush(int timeoutMs) override;
    void abort() override;
    QHostAddress peerAddress() const override;
    uint16_t peerPort() const override;
    QHostAddress localAddress() const override;
    uint16_t localPort() const override;

    int descriptor() const { return fd_; }

private:
    void listenerChanged() override;
    void peerGone() override;
    friend class OwnedNotifier;
    void onReadable();
    void onWritable();
    // Hands queued output to the kernel; false on a connection fault.
    bool flushQueue();
    void queue(const char* data, int64_t n, bool arm = true);
    void armWriteNotifier();
    void brokenByWrite(int err);
    void updateReadNotifier();
    bool canSend() const;
    void noteQuietProgress(int64_t before);
    void releaseNotifiers();

    int fd_;
    OwnedNotifier* readNotifier_ = nullptr;    // made when a listener is set
    OwnedNotifier* writeNotifier_ = nullptr;   // made when output first waits
    QByteArray preRead_;
    qsizetype preReadPos_ = 0;
    OutputQueue out_;                            // unsent output
    Status status_ = Status::Open;
    int errno_ = 0;
    bool paused_ = false;
    bool watched_ = false;   // paused: the peer watch tells of a reset
    bool corked_ = false;
    bool corkFirst_ = false;   // corked, and nothing written in this batch yet
    int64_t corkBacklog_ = 0;  // queued output from before the batch, not yet gone
    bool reportPending_ = false;   // queued output went out without a written call yet
};

} // namespace corvane::engine
