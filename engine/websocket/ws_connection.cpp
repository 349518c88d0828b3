#include "engine/websocket/ws_connection.h"

#include "engine/protocol/errors.h"
#include "engine/transport/socket_graveyard.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>

#include <algorithm>
#include <cstring>

namespace corvane::engine {

using protocol::Opcode;

namespace {

constexpr size_t kFilePiece = 64 * 1024;

int64_t nowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// One read buffer per nesting depth, shared by every connection: reading is
// synchronous, so thousands of idle connections hold no buffer of their own.
// A handler that runs an event loop (DoEvents) reads at the next depth.
std::vector<std::vector<uint8_t>> g_readBuffers;
size_t g_readDepth = 0;

struct SharedReadBuffer {
    explicit SharedReadBuffer(size_t capacity)
    {
        if (g_readBuffers.size() <= g_readDepth)
            g_readBuffers.resize(g_readDepth + 1);
        std::vector<uint8_t>& b = g_readBuffers[g_readDepth++];
        if (b.size() != capacity)
            b.assign(capacity, 0);
        data = b.data();
    }
    ~SharedReadBuffer() { --g_readDepth; }
    SharedReadBuffer(const SharedReadBuffer&) = delete;
    SharedReadBuffer& operator=(const SharedReadBuffer&) = delete;
    uint8_t* data;
};

} // namespace

PeerFacts PeerFacts::of(const ByteStream& stream)
{
    QHostAddress peer = stream.peerAddress();
    QHostAddress local = stream.localAddress();
    bool v4 = false;
    if (const quint32 a = peer.toIPv4Address(&v4); v4)
        peer = QHostAddress(a);
    if (const quint32 a = local.toIPv4Address(&v4); v4)
        local = QHostAddress(a);
    PeerFacts facts;
    facts.remoteAddress = peer.toString();
    facts.localAddress = local.toString();
    facts.remotePort = stream.peerPort();
    return facts;
}

WsConnection::WsConnection(Role role, Handover handover, ConnectionEvents& events, const ConnectionLimits& limits)
    : role_(role), stream_(std::move(handover.stream)), events_(events), limits_(limits),
      deflate_(handover.deflate), readAhead_(std::move(handover.readAhead)), peer_(std::move(handover.peer)),
      rng_(QRandomGenerator::system()->generate())
{
    stream_->setListener(this);
    closeTimer_.setSingleShot(true);
    QObject::connect(&closeTimer_, &QTimer::timeout, [this] {
        EntryGuard guard;
        if (state_ == State::Closing)
            finish(protocol::close_code::kAbnormal, QStringLiteral("The close handshake timed out"), false);
    });
    QObject::connect(&idleTimer_, &QTimer::timeout, [this] { EntryGuard guard; onIdleTick(); });
    lastActivityMs_ = lastReceiveMs_ = nowMs();
}

WsConnection::~WsConnection()
{
    if (stream_)
        stream_->abort();
}

// Closed for good: no timer fires and no file is read any more.
void WsConnection::markClosed()
{
    finished_ = true;
    state_ = State::Closed;
    closeTimer_.stop();
    idleTimer_.stop();
    file_.reset();
}

void WsConnection::detach()
{
    markClosed();
    if (stream_) {
        stream_->abort();
        stream_.reset();
    }
}

// ---- starting ----

void WsConnection::start()
{
    if (state_ != State::New)
        return;
    becomeOpen();
    if (finished_)
        return;
    updateStreamPause();
    // The opening stopped reading while its owner decided; an end that came
    // meanwhile may have been announced to it already.
    if (readAhead_.size() > readAheadUsed_ || (stream_ && stream_->status() != ByteStream::Status::Open))
        readLoop();
    else if (stream_ && stream_->bytesBuffered() > 0)
        QTimer::singleShot(0, &closeTimer_, [this] { EntryGuard guard; readLoop(); });
}

void WsConnection::becomeOpen()
{
    protocol::DecoderOptions options;
    options.maxMessageSize = limits_.maxMessageSize;
    options.maxChunk = limits_.chunkSize;
    options.expectMasked = role_ == Role::Server;
    options.wholeCharacters = true;
    if (deflate_) {
        options.compressed = true;
        options.inflateWindowBits = deflate_->peerWindowBits;
        options.inflateNoContextTakeover = deflate_->peerNoContextTakeover;
        deflater_ = std::make_unique<protocol::MessageDeflater>(deflate_->ownWindowBits, limits_.deflate.memLevel,
                                                                deflate_->ownNoContextTakeover);
    }
    decoder_ = std::make_unique<protocol::FrameDecoder>(static_cast<protocol::FrameSink&>(*this), options);
    state_ = State::Open;
    lastActivityMs_ = lastReceiveMs_ = nowMs();
    setLimits(limits_);
    events_.connectionOpened(*this);
    if (!finished_ && state_ == State::Open)
        events_.connectionReadyToSend(*this);
}

void WsConnection::setLimits(const ConnectionLimits& limits)
{
    limits_ = limits;
    if (decoder_) {
        protocol::DecoderOptions o = decoder_->options();
        o.maxMessageSize = limits_.maxMessageSize;
        o.maxChunk = limits_.chunkSize;
        decoder_->setOptions(o);
    }
    const int idle = limits_.idleTimeoutMs;
    const int keep = limits_.keepAliveMs;
    if (state_ == State::Open && (idle > 0 || keep > 0)) {
        const int shortest = idle > 0 && keep > 0 ? std::min(idle, keep) : std::max(idle, keep);
        idleTimer_.start(std::clamp(shortest / 4, 50, 1000));
    } else {
        idleTimer_.stop();
    }
}

// ---- reading ----

void WsConnection::streamReadable()
{
    EntryGuard guard;
    readLoop();
}

void WsConnection::streamWritten()
{
    EntryGuard guard;
    onBytesWritten();
    if (!finished_)
        events_.connectionQueueChanged(*this);
}

void WsConnection::setReadPaused(PauseReason reason, bool paused)
{
    const unsigned before = paused_;
    paused_ = paused ? (paused_ | reason) : (paused_ & ~unsigned(reason));
    updateStreamPause();
    if (before != 0 && paused_ == 0 && !pausedByQueue_)
        QTimer::singleShot(0, &closeTimer_, [this] { EntryGuard guard; readLoop(); });   // the host may be inside a call now
}

// Reading from the kernel stops while nothing may be read, so TCP pushes back
// and a level-triggered stream does not call again and again meanwhile.
void WsConnection::updateStreamPause()
{
    if (!stream_ || finished_)
        return;
    const bool hold = nestedRead_ || state_ == State::New
                   || ((state_ == State::Open || state_ == State::Closing) && (paused_ != 0 || pausedByQueue_));
    stream_->setReadPaused(hold);
}

void WsConnection::readLoop()
{
    if (finished_ || !stream_ || state_ == State::New)
        return;
    // A handler running an event loop must not feed the decoder busy below it;
    // the outer loop reads on when the handler returns.
    if (feeding_) {
        nestedRead_ = true;
        updateStreamPause();
        return;
    }
    const size_t capacity = std::max<size_t>(limits_.readBufferSize, 4096);
    SharedReadBuffer shared(capacity);
    feeding_ = true;
    bool ended = false;
    // Answers written while this batch is handled leave together.
    stream_->setCorked(true);
    // A few reads at a time: the stream calls again while more waits, and
    // other connections get their turn in between.
    bool more = true;   // a short read means the kernel had no more: no need to ask again now
    for (int rounds = 0; rounds < 16 && more && !finished_ && stream_; ++rounds) {
        if ((state_ == State::Open || state_ == State::Closing) && (paused_ != 0 || pausedByQueue_)) {
            // A peer that reset the connection meanwhile is gone now, paused or not.
            ended = stream_->status() != ByteStream::Status::Open && stream_->bytesBuffered() == 0
                 && readAhead_.size() == readAheadUsed_;
            break;
        }
        uint8_t* buffer = shared.data;
        const size_t held = heldLength_;
        std::memcpy(buffer, held_, held);
        int64_t n = 0;
        if (readAheadUsed_ < readAhead_.size()) {
            // What came with the opening head goes first, as if read now.
            n = int64_t(std::min(readAhead_.size() - readAheadUsed_, capacity - held));
            std::memcpy(buffer + held, readAhead_.data() + readAheadUsed_, size_t(n));
            readAheadUsed_ += size_t(n);
            if (readAheadUsed_ == readAhead_.size()) {
                std::string().swap(readAhead_);
                readAheadUsed_ = 0;
            }
        } else {
            n = stream_->read(reinterpret_cast<char*>(buffer + held), int64_t(capacity - held));
            if (n < 0)
                ended = true;
            if (n <= 0)
                break;
            more = size_t(n) == capacity - held;
        }
        heldLength_ = 0;
        const size_t total = held + size_t(n);
        if ((state_ == State::Open || state_ == State::Closing) && decoder_) {
            protocol::FrameDecoder* decoder = decoder_.get();
            const size_t used = role_ == Role::Server ? decoder->feedInPlace(buffer, total)
                                                      : decoder->feed(buffer, total);
            if (peerClose_) {
                const auto [code, reason] = *peerClose_;
                const bool error = peerCloseIsError_;
                peerClose_.reset();
                const QString text = QString::fromUtf8(reason.data(), qsizetype(reason.size()));
                if (error) {
                    if (!closeSent_ && !file_)
                        writeFrame(Opcode::Close, true,
                                   reinterpret_cast<const uint8_t*>(protocol::encodeClosePayload(code, reason).data()),
                                   protocol::encodeClosePayload(code, reason).size());
                    closeSent_ = true;
                    const int ec = code == protocol::close_code::kMessageTooBig ? kMessageTooBig
                                 : code == protocol::close_code::kInvalidPayload ? kInvalidUtf8
                                                                                  : kProtocolError;
                    events_.connectionError(*this, ec, QString::fromStdString(errorText(ec, reason)));
                    finish(code, text, true);
                } else {
                    if (!closeSent_) {
                        // Echo the peer's code, as RFC 6455 section 5.5.1 asks.
                        const std::string payload = code == protocol::close_code::kNoStatus
                                                        ? std::string()
                                                        : protocol::encodeClosePayload(code, {});
                        if (file_)
                            file_.reset();   // a half-written frame cannot be followed by a close; drop it
                        else
                            writeFrame(Opcode::Close, true, reinterpret_cast<const uint8_t*>(payload.data()),
                                       payload.size());
                        closeSent_ = true;
                    }
                    events_.connectionLog(*this, 1, QStringLiteral("Close frame received: %1 %2").arg(code).arg(text),
                                          QStringLiteral("Close"));
                    finish(code, text, true);
                }
                break;
            }
            if (!finished_ && decoder_.get() == decoder && !decoder->stopped()) {
                const size_t kept = total - used;   // the start of a character cut by the read
                std::memcpy(held_, buffer + total - kept, kept);
                heldLength_ = kept;
            }
        }
    }
    feeding_ = false;
    if (stream_)
        stream_->setCorked(false);
    // A Qt socket says readable only when more arrives: what it holds
    // already is read on from the event loop.
    if (!ended && !finished_ && stream_ && !nestedRead_ && stream_->qtSocket() != nullptr
        && stream_->bytesBuffered() > 0 && paused_ == 0 && !pausedByQueue_)
        QTimer::singleShot(0, &closeTimer_, [this] { EntryGuard guard; readLoop(); });
    if (nestedRead_) {
        nestedRead_ = false;
        updateStreamPause();
        if (!ended && !finished_)
            QTimer::singleShot(0, &closeTimer_, [this] { EntryGuard guard; readLoop(); });
    }
    if (ended && !finished_)
        onStreamEnded();
}

// ---- frames received ----

void WsConnection::onData(Opcode type, const uint8_t* data, size_t n, bool last)
{
    if (state_ == State::Open)
        events_.connectionData(*this, type, data, n, last);
}

void WsConnection::onPing(const uint8_t* data, size_t n)
{
    if (state_ != State::Open)
        return;
    if (file_ && fileFrameDone_ > 0)
        controlAfterFile_.emplace_back(Opcode::Pong, std::string(reinterpret_cast<const char*>(data), n));
    else
        writeFrame(Opcode::Pong, true, data, n);
    // Answers to a flood of pings are output like any other: once the queue
    // is full, reading stops until the peer takes them.
    if (overQueueLimit()) {
        pausedByQueue_ = true;
        updateStreamPause();
    }
    if (queuedBytes() > 0)
        events_.connectionQueueChanged(*this);
    if (finished_)
        return;
    events_.connectionLog(*this, 2, QStringLiteral("Ping received"), QStringLiteral("Ping"));
}

void WsConnection::onPong(const uint8_t*, size_t n)
{
    events_.connectionLog(*this, 1, QStringLiteral("Pong received (%1 bytes)").arg(n), QStringLiteral("Pong"));
}

void WsConnection::onClose(uint16_t code, std::string_view reason)
{
    peerClose_.emplace(code, std::string(reason));
    peerCloseIsError_ = false;
}

void WsConnection::onProtocolError(uint16_t closeCode, std::string_view reason)
{
    peerClose_.emplace(closeCode, std::string(reason));
    peerCloseIsError_ = true;
}

// ---- sending ----

int64_t WsConnection::queuedBytes() const
{
    return stream_ ? stream_->bytesToWrite() : 0;
}

bool WsConnection::overQueueLimit() const
{
    return queuedBytes() >= limits_.sendQueueLimit;
}

bool WsConnection::readyToSend() const
{
    return state_ == State::Open && !file_ && !blocked_ && !overQueueLimit();
}

bool WsConnection::writeRaw(const char* data, qint64 n)
{
    if (!stream_)
        return false;
    ++writes_;
    return stream_->write(data, n);
}

bool WsConnection::writeFrame(Opcode op, bool fin, const uint8_t* data, size_t n, bool rsv1)
{
    uint8_t header[protocol::kMaxFrameHeader];
    if (role_ == Role::Server) {
        // Header and payload in one call: one system call, one TCP segment train.
        const size_t h = protocol::encodeFrameHeader(header, op, fin, n, nullptr, rsv1);
        if (!stream_)
            return false;
        ++writes_;
        return stream_->write(reinterpret_cast<const char*>(header), int64_t(h), reinterpret_cast<const char*>(data),
                              int64_t(n));
    }
    uint8_t mask[4];
    const quint32 m = rng_.generate();
    std::memcpy(mask, &m, 4);
    const size_t h = protocol::encodeFrameHeader(header, op, fin, n, mask, rsv1);
    if (!writeRaw(reinterpret_cast<const char*>(header), qint64(h)))
        return false;
    if (frameBuffer_.size() < kFilePiece)
        frameBuffer_.resize(kFilePiece);
    for (size_t done = 0; done < n;) {
        const size_t piece = std::min(n - done, kFilePiece);
        std::memcpy(frameBuffer_.data(), data + done, piece);
        protocol::applyMask(frameBuffer_.data(), piece, mask, done);
        if (!writeRaw(reinterpret_cast<const char*>(frameBuffer_.data()), qint64(piece)))
            return false;
        done += piece;
    }
    return true;
}

int WsConnection::sendMessage(Opcode op, const uint8_t* data, size_t n)
{
    if (state_ != State::Open)
        return kNotConnected;
    if (file_)
        return kBusySending;
    const int64_t queued = queuedBytes();
    // A message larger than the limit still goes into an empty queue: the
    // host holds it already, and it could never be sent otherwise.
    if (limits_.refuseOverLimit && queued > 0 && queued + int64_t(n) > limits_.sendQueueLimit) {
        blocked_ = true;
        return kSendQueueFull;
    }
    bool ok = true;
    if (deflater_ && (op == Opcode::Text || op == Opcode::Binary)) {
        compressed_.clear();
        if (!deflater_->compress(data, n, true, compressed_))
            return kSendFailed;
        ok = writeMessage(op, reinterpret_cast<const uint8_t*>(compressed_.data()), compressed_.size(), true);
        if (compressed_.capacity() > (1u << 20))
            std::string().swap(compressed_);   // an idle connection keeps no large buffer
    } else {
        ok = writeMessage(op, data, n, false);
    }
    if (!ok)
        return kSendFailed;
    bytesSent_ += int64_t(n);
    if (overQueueLimit())
        blocked_ = true;
    if (queuedBytes() > 0)
        events_.connectionQueueChanged(*this);
    return 0;
}

// One message, in fragments of FragmentSize when set; RSV1 on the first
// frame marks it compressed.
bool WsConnection::writeMessage(Opcode op, const uint8_t* data, size_t n, bool compressed)
{
    const size_t fragment = limits_.fragmentSize;
    if (fragment == 0 || n <= fragment)
        return writeFrame(op, true, data, n, compressed);
    bool ok = true;
    for (size_t done = 0; ok && done < n; done += fragment) {
        const size_t piece = std::min(fragment, n - done);
        ok = writeFrame(done == 0 ? op : Opcode::Continuation, done + piece == n, data + done, piece,
                        compressed && done == 0);
    }
    return ok;
}

int WsConnection::sendPing(const std::string& payload)
{
    if (state_ != State::Open)
        return kNotConnected;
    if (file_ && fileFrameDone_ > 0) {
        controlAfterFile_.emplace_back(Opcode::Ping, payload);
        return 0;
    }
    return writeFrame(Opcode::Ping, true, reinterpret_cast<const uint8_t*>(payload.data()), payload.size())
               ? 0
               : kSendFailed;
}

// The file goes out as one message in fragments, read from disk only as the
// socket drains, so neither the file nor a large queue is ever held.
int WsConnection::sendFile(const QString& fileName, Opcode op)
{
    if (state_ != State::Open)
        return kNotConnected;
    if (file_)
        return kBusySending;
    auto f = std::make_unique<QFile>(fileName);
    if (!f->open(QIODevice::ReadOnly))
        return kFileError;
    fileRemaining_ = uint64_t(f->size());
    fileFrameDone_ = 0;
    file_ = std::move(f);
    blocked_ = true;   // OnReadyToSend tells when it is done
    fileOp_ = op;
    fileFirst_ = true;
    pumpFile();
    events_.connectionQueueChanged(*this);
    return 0;
}

void WsConnection::cancelFile()
{
    if (!file_)
        return;
    const bool midFrame = fileFrameDone_ > 0 && fileFrameDone_ < fileFrameLength_;
    file_.reset();
    if (midFrame)
        abort(QStringLiteral("file transfer interrupted"));   // a cut frame cannot be mended
    else if (fileRemaining_ > 0 && !fileFirst_)
        abort(QStringLiteral("file transfer interrupted"));   // the message was begun and cannot end
}

void WsConnection::pumpFile()
{
    const int64_t fill = std::min<int64_t>(limits_.sendQueueLimit, 1 << 20);
    // At most about a queue's worth per turn of the event loop, also when the
    // kernel takes everything at once: the file is streamed, not sent in one go.
    const int64_t sentBefore = bytesSent_;
    while (file_ && stream_ && queuedBytes() < fill && bytesSent_ - sentBefore < fill) {
        if (fileFrameDone_ == 0 || fileFrameDone_ == fileFrameLength_) {
            // Between fragments: control frames may go now.
            for (const auto& [op, payload] : controlAfterFile_)
                writeFrame(op, true, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
            controlAfterFile_.clear();
            if (!fileFirst_ && fileRemaining_ == 0) {
                file_.reset();
                break;
            }
            const uint64_t fragment = limits_.fragmentSize > 0       ? uint64_t(limits_.fragmentSize)
                                    : limits_.fileFragmentSize > 0 ? limits_.fileFragmentSize
                                                                   : std::max<uint64_t>(fileRemaining_, 1);
            fileFrameLength_ = std::min(fragment, fileRemaining_);
            fileFrameDone_ = 0;
            uint8_t header[protocol::kMaxFrameHeader];
            const quint32 m = rng_.generate();
            std::memcpy(fileMask_, &m, 4);
            const bool fin = fileFrameLength_ == fileRemaining_;
            const size_t h = protocol::encodeFrameHeader(header, fileFirst_ ? fileOp_ : Opcode::Continuation, fin,
                                                         fileFrameLength_, role_ == Role::Client ? fileMask_ : nullptr);
            fileFirst_ = false;
            writeRaw(reinterpret_cast<const char*>(header), qint64(h));
            if (fileFrameLength_ == 0) {
                file_.reset();
                break;
            }
        }
        if (frameBuffer_.size() < kFilePiece)
            frameBuffer_.resize(kFilePiece);
        const qint64 want = qint64(std::min<uint64_t>(kFilePiece, fileFrameLength_ - fileFrameDone_));
        const qint64 got = file_->read(reinterpret_cast<char*>(frameBuffer_.data()), want);
        if (got <= 0) {
            file_.reset();
            events_.connectionError(*this, kFileError, QString::fromStdString(errorText(kFileError, "read failed")));
            if (!finished_)
                abort(QStringLiteral("the file could not be read"));
            return;
        }
        if (role_ == Role::Client)
            protocol::applyMask(frameBuffer_.data(), size_t(got), fileMask_, fileFrameDone_);
        writeRaw(reinterpret_cast<const char*>(frameBuffer_.data()), got);
        fileFrameDone_ += uint64_t(got);
        fileRemaining_ -= uint64_t(got);
        bytesSent_ += got;
        if (fileRemaining_ == 0 && fileFrameDone_ == fileFrameLength_) {
            file_.reset();
            for (const auto& [op, payload] : controlAfterFile_)
                writeFrame(op, true, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
            controlAfterFile_.clear();
        }
    }
    // Nothing waits in the queue, so no written callback will come: go on
    // (or report the end, ReadyToSend) from the event loop.
    if (stream_ && queuedBytes() == 0 && (file_ || blocked_))
        QTimer::singleShot(0, &closeTimer_, [this] { EntryGuard guard; onBytesWritten(); });
}

void WsConnection::onBytesWritten()
{
    if (finished_)
        return;
    if (file_)
        pumpFile();
    checkDrained();
}

void WsConnection::checkDrained()
{
    const int64_t queued = queuedBytes();
    if (pausedByQueue_ && queued < limits_.sendQueueLimit / 2) {
        pausedByQueue_ = false;
        updateStreamPause();
        if (paused_ == 0)
            QTimer::singleShot(0, &closeTimer_, [this] { EntryGuard guard; readLoop(); });
    }
    if (blocked_ && !file_ && queued <= limits_.sendQueueLimit / 2 && state_ == State::Open) {
        blocked_ = false;
        events_.connectionReadyToSend(*this);
    }
}

// ---- closing ----

void WsConnection::close(uint16_t code, const std::string& reason)
{
    if (finished_)
        return;
    if (state_ == State::New) {
        finish(code, QString::fromStdString(reason), false);
        return;
    }
    if (state_ != State::Open)
        return;
    if (file_) {
        if (fileFrameDone_ > 0 && fileFrameDone_ < fileFrameLength_) {
            abort(QStringLiteral("closed while a file was being sent"));
            return;
        }
        file_.reset();
    }
    const std::string payload = protocol::encodeClosePayload(code, reason);
    writeFrame(Opcode::Close, true, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    closeSent_ = true;
    state_ = State::Closing;
    idleTimer_.stop();
    if (limits_.closeTimeoutMs > 0)
        closeTimer_.start(limits_.closeTimeoutMs);
}

void WsConnection::abort(const QString& why)
{
    if (!finished_)
        finish(protocol::close_code::kAbnormal, why, false);
}

// Everything before the end was read (a close frame perhaps); the peer
// closed its side or the connection failed.
void WsConnection::onStreamEnded()
{
    if (finished_ || !stream_)
        return;
    if (stream_->status() != ByteStream::Status::Failed) {
        finish(protocol::close_code::kAbnormal, QStringLiteral("Connection closed without a close frame"), false);
        return;
    }
    const QString text = stream_->errorText();
    const int code = stream_->tlsFailed() ? kTlsFailed : kConnectionLost;
    events_.connectionError(*this, code, QString::fromStdString(errorText(code, text.toStdString())));
    if (!finished_)
        finish(protocol::close_code::kAbnormal, text, false);
}

void WsConnection::finish(int statusCode, const QString& reason, bool flushFirst)
{
    if (finished_)
        return;
    markClosed();
    releaseSocket(flushFirst);
    events_.connectionClosed(*this, statusCode, reason);
}

// The last bytes (a close frame, a refusal) are pushed to the kernel before
// the connection reports its end, so they survive a host that stops running
// the event loop right after. What the kernel did not take lingers on its own.
void WsConnection::releaseSocket(bool flushFirst)
{
    std::unique_ptr<ByteStream> s = std::move(stream_);
    if (!s)
        return;
    if (flushFirst)
        s->closeAfterFlush(limits_.closeTimeoutMs);
    else
        s->abort();
}

// ---- timers ----

void WsConnection::onIdleTick()
{
    if (state_ != State::Open)
        return;
    // Progress is sampled here, not stamped per frame or write, so the hot
    // paths pay nothing for it. It is counted in whole frames, not bytes: a
    // peer that trickles a frame a byte at a time never completes one.
    const int64_t now = nowMs();
    const uint64_t frames = decoder_ ? decoder_->framesDone() : 0;
    if (frames != framesSeen_) {
        framesSeen_ = frames;
        lastActivityMs_ = lastReceiveMs_ = now;
    }
    if (writes_ != writesSeen_) {
        writesSeen_ = writes_;
        lastActivityMs_ = now;
    }
    if (limits_.idleTimeoutMs > 0 && now - lastReceiveMs_ >= limits_.idleTimeoutMs) {
        // A peer that sends nothing whole is not waited for again through a
        // close handshake: the close frame goes out and the connection ends,
        // as when the peer breaks the protocol.
        events_.connectionLog(*this, 1, QStringLiteral("Idle timeout"), QStringLiteral("Close"));
        if (finished_)
            return;
        events_.connectionError(*this, kTimeout, QStringLiteral("Timeout: no frame received within the idle timeout"));
        if (finished_)
            return;
        if (file_ && fileFrameDone_ > 0 && fileFrameDone_ < fileFrameLength_) {
            abort(QStringLiteral("idle timeout"));
            return;
        }
        file_.reset();
        const std::string payload = protocol::encodeClosePayload(protocol::close_code::kGoingAway, "idle timeout");
        writeFrame(Opcode::Close, true, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
        closeSent_ = true;
        finish(protocol::close_code::kGoingAway, QStringLiteral("idle timeout"), true);
        return;
    }
    if (limits_.keepAliveMs > 0 && now - lastActivityMs_ >= limits_.keepAliveMs && !file_)
        sendPing();
}

} // namespace corvane::engine
