// The byte stream a WebSocket connection reads and writes through: a plain
// TCP descriptor driven by the event loop (RawSocketStream), or a Qt socket
// for what only Qt does for us (TLS, firewall tunnels; QtSocketStream).
// Everything runs on the creating thread's event loop; nothing blocks.
#pragma once

#include <QHostAddress>
#include <QString>

#include <cstdint>
#include <memory>

class QAbstractSocket;
class QTcpSocket;

namespace corvane::engine {

class ByteStream {
public:
    // The owner's side. Either callback may end in the owner destroying the
    // stream; the stream touches nothing of itself after calling one.
    class Listener {
    public:
        virtual ~Listener() = default;
        // Bytes can be read, or the stream ended (read returns -1).
        virtual void streamReadable() = 0;
        // Some queued output went out.
        virtual void streamWritten() = 0;
    };

    enum class Status {
        Open,
        Ended,     // the peer closed its side (FIN) or reset the connection
        Failed,    // any other fault; errorText() says which
    };

    virtual ~ByteStream() = default;
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    void setListener(Listener* listener) { listener_ = listener; listenerChanged(); }

    // Up to max bytes into the caller's buffer: > 0 bytes, 0 nothing now,
    // -1 the stream ended (status() tells how; whatever came before the end
    // was returned first).
    virtual int64_t read(char* data, int64_t max) = 0;
    // Takes the bytes of a and then b, in order, whole; what the kernel does
    // not take now waits in the stream's queue. false once the stream failed.
    virtual bool write(const char* a, int64_t an, const char* b = nullptr, int64_t bn = 0) = 0;
    // Output accepted but not yet handed to the kernel.
    virtual int64_t bytesToWrite() const = 0;
    // Input already pulled from the kernel and not yet read (0 when unknown).
    virtual int64_t bytesBuffered() const = 0;
    // While paused nothing is read from the kernel, so TCP pushes back.
    virtual void setReadPaused(bool paused) = 0;
    // While corked, small writes are held and go out together when uncorked
    // (answers to a batch of requests read at once: one system call, not one each).
    virtual void setCorked(bool) {}
    virtual Status status() const = 0;
    virtual QString errorText() const = 0;
    // A failure of the TLS layer rather than of the connection.
    virtual bool tlsFailed() const { return false; }

    // Both end the stream's callbacks. closeAfterFlush hands the queued
    // output to a lingering closer (dropped after timeoutMs); abort drops it.
    virtual void closeAfterFlush(int timeoutMs) = 0;
    virtual void abort() = 0;

    virtual QHostAddress peerAddress() const = 0;
    virtual uint16_t peerPort() const = 0;
    virtual QHostAddress localAddress() const = 0;
    virtual uint16_t localPort() const = 0;

    // The Qt socket underneath, if any (TLS needs it); null for a raw stream.
    virtual QTcpSocket* qtSocket() const { return nullptr; }

    // A connected socket as a stream. A plain socket with nothing left in
    // Qt's write buffer gives up its descriptor to a RawSocketStream (what Qt
    // had read already is kept and read first) and is released; anything else
    // (TLS, a proxied socket, unsent output) is wrapped as it is.
    // socketBufferSize bounds what Qt reads ahead for a wrapped socket.
    static std::unique_ptr<ByteStream> fromSocket(QTcpSocket* socket, int64_t socketBufferSize);

protected:
    ByteStream() = default;
    virtual void listenerChanged() {}
    Listener* listener_ = nullptr;
};

} // namespace corvane::engine
