// One open WebSocket connection over a byte stream whose opening handshake
// was done by an opening stage (server_opening.h, client_opening.h): in the
// server role it reads masked frames and sends unmasked ones, in the client
// role the other way round. It owns the stream and holds everything per
// connection: the decoder, the bounded send queue, the close handshake, the
// idle and keep-alive timers. Its owner (the server core, the client object)
// gets the happenings through ConnectionEvents; everything runs on the
// creating thread's event loop.
#pragma once

#include "engine/protocol/frame_codec.h"
#include "engine/protocol/server_handshake.h"
#include "engine/transport/byte_stream.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFile;

namespace corvane::engine {

class WsConnection;

struct ConnectionLimits {
    int64_t sendQueueLimit = 16 << 20;   // queued outgoing bytes beyond which sends fail
    bool refuseOverLimit = true;         // false: sends are always queued; the limit only ends ReadyToSend
    uint64_t maxMessageSize = 0;         // 0: unlimited
    size_t chunkSize = 256 << 10;        // longest piece of data handed out at once
    size_t readBufferSize = 256 << 10;
    int idleTimeoutMs = 0;               // no whole frame received for this long ends the connection; 0 none
    int keepAliveMs = 0;                 // a ping after this long without traffic; 0 none
    int closeTimeoutMs = 5000;           // wait for the peer's close reply
    size_t fragmentSize = 0;             // 0: one frame per message
    uint64_t fileFragmentSize = 1 << 20; // a file's frames when fragmentSize is 0; 0: the file is one frame
    protocol::DeflateSettings deflate;   // its memLevel is used when compressing; the rest settles the opening

    bool operator==(const ConnectionLimits&) const = default;
};

// Who is at the other end and what it asked for. An opening stage and the
// connection it becomes hold the same facts, so an owner reads them alike
// before and after the opening.
struct PeerFacts {
    QString remoteAddress;
    uint16_t remotePort = 0;
    QString localAddress;
    protocol::UpgradeRequest request;    // server role: the opening request
    std::string requestHead;             // server role: its head as received
    std::string subProtocol;             // the one agreed, once answered

    // The addresses of a connected stream; IPv4 peers of a dual-stack
    // listener show as themselves, not as ::ffff:a.b.c.d.
    static PeerFacts of(const ByteStream& stream);
};

// What an opening stage hands to the connection once the handshake is done.
struct Handover {
    std::unique_ptr<ByteStream> stream;
    std::string readAhead;               // read beyond the opening head: the peer's first frames
    std::optional<protocol::DeflateAgreement> deflate;   // compressed messages, when agreed
    PeerFacts peer;
};

class ConnectionEvents {
public:
    virtual ~ConnectionEvents() = default;
    virtual void connectionOpened(WsConnection&) = 0;
    // A piece of a message (text is whole UTF-8 characters, see the decoder).
    virtual void connectionData(WsConnection&, protocol::Opcode type, const uint8_t* data, size_t n, bool last) = 0;
    virtual void connectionReadyToSend(WsConnection&) = 0;
    virtual void connectionError(WsConnection&, int code, const QString& text) = 0;
    // The end, once: the close status code (1006 without a close frame) and reason.
    // The socket is released and the close frame, if any, already written.
    virtual void connectionClosed(WsConnection&, int statusCode, const QString& reason) = 0;
    virtual void connectionLog(WsConnection&, int level, const QString& message, const QString& type) = 0;
    // The queued output may have changed size (a send, an answer, a drain).
    virtual void connectionQueueChanged(WsConnection&) {}
};

class WsConnection final : private protocol::FrameSink, private ByteStream::Listener {
public:
    enum class Role { Server, Client };
    enum class State { New, Open, Closing, Closed };

    // Takes the stream of a finished opening handshake, with what was read
    // beyond its head and the compression it agreed.
    WsConnection(Role role, Handover handover, ConnectionEvents& events, const ConnectionLimits& limits);
    ~WsConnection() override;
    WsConnection(const WsConnection&) = delete;
    WsConnection& operator=(const WsConnection&) = delete;

    // Opens: connectionOpened, connectionReadyToSend, then the frames that
    // came with the opening head, then whatever the stream brings.
    void start();
    // Compressed messages were agreed.
    bool compressing() const { return deflate_.has_value(); }

    State state() const { return state_; }
    bool isOpen() const { return state_ == State::Open; }
    Role role() const { return role_; }

    // Sending. 0 or an error code (kNotConnected, kSendQueueFull, kBusySending, kFileError).
    int sendMessage(protocol::Opcode op, const uint8_t* data, size_t n);
    int sendFile(const QString& fileName, protocol::Opcode op);
    int sendPing(const std::string& payload = {});
    void cancelFile();
    bool sendingFile() const { return file_ != nullptr; }
    int64_t queuedBytes() const;
    bool readyToSend() const;
    int64_t bytesSent() const { return bytesSent_; }

    // Starts the close handshake (Open) or ends at once (before start).
    void close(uint16_t code, const std::string& reason);
    // Drops the connection without a close frame; reported as 1006.
    void abort(const QString& why);

    // Reading pauses while any reason holds (the host's AcceptData, a full
    // queue elsewhere); the socket's own buffer is bounded, so TCP pushes back.
    enum PauseReason : unsigned { kPausedByHost = 1, kPausedByOwner = 2, kPausedByBound = 4 };
    void setReadPaused(PauseReason reason, bool paused);

    void setLimits(const ConnectionLimits& limits);
    const ConnectionLimits& limits() const { return limits_; }

    // Kept after the stream is released.
    const PeerFacts& peer() const { return peer_; }
    ByteStream* stream() const { return stream_.get(); }

    // Ends without any further callback and releases the socket (an owner
    // going away). Deleting it is left to deferDelete: its own handlers may
    // be on the stack.
    void detach();

    int id = 0;   // the owner's id
    void* userData = nullptr;

private:
    void init();
    // ByteStream::Listener
    void streamReadable() override;
    void streamWritten() override;
    void onBytesWritten();
    void onStreamEnded();
    void updateStreamPause();
    void readLoop();
    void becomeOpen();
    bool writeFrame(protocol::Opcode op, bool fin, const uint8_t* data, size_t n, bool rsv1 = false);
    bool writeMessage(protocol::Opcode op, const uint8_t* data, size_t n, bool compressed);
    bool writeRaw(const char* data, qint64 n);
    void pumpFile();
    void markClosed();
    void finish(int statusCode, const QString& reason, bool flushFirst);
    void releaseSocket(bool flushFirst);
    void onIdleTick();
    bool overQueueLimit() const;
    void checkDrained();

    // FrameSink
    void onData(protocol::Opcode type, const uint8_t* data, size_t n, bool last) override;
    void onPing(const uint8_t* data, size_t n) override;
    void onPong(const uint8_t* data, size_t n) override;
    void onClose(uint16_t code, std::string_view reason) override;
    void onProtocolError(uint16_t closeCode, std::string_view reason) override;

    Role role_;
    State state_ = State::New;
    std::unique_ptr<ByteStream> stream_;
    ConnectionEvents& events_;
    ConnectionLimits limits_;
    std::unique_ptr<protocol::FrameDecoder> decoder_;
    std::optional<protocol::DeflateAgreement> deflate_;
    std::unique_ptr<protocol::MessageDeflater> deflater_;
    std::string compressed_;       // a message being sent, compressed
    std::string readAhead_;        // frames that came with the opening head, read before the stream
    size_t readAheadUsed_ = 0;
    PeerFacts peer_;
    uint8_t held_[4] = {0, 0, 0, 0};
    size_t heldLength_ = 0;
    std::vector<uint8_t> frameBuffer_;
    QRandomGenerator rng_;

    unsigned paused_ = 0;
    bool pausedByQueue_ = false;   // pongs filled the queue: stop reading until it drains
    bool feeding_ = false;
    bool nestedRead_ = false;      // the stream called while the decoder was busy below
    bool blocked_ = false;         // a send was refused or the queue filled: ReadyToSend when it drains
    bool closeSent_ = false;
    bool finished_ = false;
    std::optional<std::pair<uint16_t, std::string>> peerClose_;
    bool peerCloseIsError_ = false;
    int64_t bytesSent_ = 0;

    std::unique_ptr<QFile> file_;
    uint64_t fileRemaining_ = 0;
    uint64_t fileFrameDone_ = 0;
    uint64_t fileFrameLength_ = 0;
    bool fileFirst_ = true;
    protocol::Opcode fileOp_ = protocol::Opcode::Binary;
    uint8_t fileMask_[4] = {0, 0, 0, 0};
    std::vector<std::pair<protocol::Opcode, std::string>> controlAfterFile_;

    QTimer closeTimer_;
    QTimer idleTimer_;
    int64_t lastActivityMs_ = 0;
    int64_t lastReceiveMs_ = 0;       // when the last whole frame arrived (as the idle tick saw it)
    uint64_t framesSeen_ = 0;         // the decoder's frame count at the last tick
    uint64_t writes_ = 0;             // writes so far, and at the last tick
    uint64_t writesSeen_ = 0;
};

} // namespace corvane::engine
