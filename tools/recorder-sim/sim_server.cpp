#include "sim_server.h"

#include "engine/include/corvanews20.h"
#include "engine/include/corvanews20_server.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>

namespace recsim {

namespace prop = corvanews20::server::prop;
namespace method = corvanews20::server::method;
namespace event = corvanews20::server::event;

namespace {

constexpr int kSendQueueFull = 164;  // the engine's code for a full send queue (engine/README.md)
// Pieces sent in one go before the event loop gets a turn, so a reply in
// one-byte pieces does not starve the other connections and the sockets.
constexpr int kPiecesPerTurn = 256;
constexpr qint64 kBytesPerTurn = 4 << 20;
// Requests of one connection answered in one go before the others get a turn:
// a camera image takes milliseconds to draw.
constexpr int kRequestsPerTurn = 4;

void* iv(qint64 v) { return reinterpret_cast<void*>(static_cast<intptr_t>(v)); }
int ivAt(void** argv, int k) { return int(reinterpret_cast<intptr_t>(argv[k])); }
QString wideAt(void** argv, int k)
{
    return argv[k] ? QString::fromUtf16(static_cast<const char16_t*>(argv[k])) : QString();
}

}  // namespace

SimServer::SimServer(Recorder& recorder, QObject* parent)
    : QObject(parent), recorder_(recorder), planner_(recorder.options())
{
    handle_ = CorvaneWS_WebSocketServer_Create(&SimServer::sink, this, nullptr, 0);
}

SimServer::~SimServer()
{
    if (handle_) {
        shutdown();
        CorvaneWS_WebSocketServer_Destroy(handle_);
    }
}

QString SimServer::lastError() const
{
    const char* text = CorvaneWS_WebSocketServer_GetLastError(handle_);
    return QStringLiteral("%1: %2")
        .arg(CorvaneWS_WebSocketServer_GetLastErrorCode(handle_))
        .arg(QString::fromUtf8(text ? text : ""));
}

QString SimServer::listen()
{
    if (!handle_) return QStringLiteral("The WebSocket server engine object cannot be created.");
    const SimOptions& o = recorder_.options();
    const std::u16string host = o.host.toStdU16String();
    int rc = CorvaneWS_WebSocketServer_Set(handle_, prop::LocalHost + corvanews20::kStrOffset, 0, host.c_str(),
                                           int(host.size()));
    if (rc == 0) rc = CorvaneWS_WebSocketServer_Set(handle_, prop::LocalPort, 0, iv(o.port), 0);
    if (rc == 0 && !o.tlsPemFile.isEmpty()) {
        // A PEM file holding the certificate and its key (store type 6).
        const QByteArray path = QFileInfo(o.tlsPemFile).absoluteFilePath().toUtf8();
        rc = CorvaneWS_WebSocketServer_Set(handle_, prop::SSLCertStoreType, 0, iv(6), 0);
        if (rc == 0) rc = CorvaneWS_WebSocketServer_Set(handle_, prop::SSLCertStore, 0, path.constData(), int(path.size()));
        if (rc == 0) rc = CorvaneWS_WebSocketServer_Set(handle_, prop::UseSSL, 0, iv(1), 0);
    }
    if (rc == 0) rc = CorvaneWS_WebSocketServer_Set(handle_, prop::Listening, 0, iv(1), 0);
    return rc == 0 ? QString() : lastError();
}

int SimServer::port() const
{
    long long value = 0;
    void* v = CorvaneWS_WebSocketServer_Get(handle_, prop::LocalPort, 0, nullptr, &value);
    return int(reinterpret_cast<intptr_t>(v));
}

void SimServer::shutdown()
{
    if (!handle_) return;
    CorvaneWS_WebSocketServer_Do(handle_, corvanews20::kMethodOffset + method::Shutdown, 0, nullptr, nullptr, nullptr);
    links_.clear();
}

int SimServer::sink(void* user, int ev, int argc, void** argv, int* arglen)
{
    auto* self = static_cast<SimServer*>(user);
    try {
        switch (ev) {
        case event::Connected:
            if (argc >= 1) self->connected(ivAt(argv, 0));
            break;
        case event::DataIn:
            if (argc >= 3 && argv[2] && arglen[2] > 0)
                self->dataIn(ivAt(argv, 0), QByteArray(static_cast<const char*>(argv[2]), arglen[2]));
            break;
        case event::Disconnected:
            if (argc >= 3) self->disconnected(ivAt(argv, 0), ivAt(argv, 1), wideAt(argv, 2));
            break;
        case event::Error:
            if (argc >= 3)
                emit self->note(QStringLiteral("connection %1: error %2: %3")
                                    .arg(ivAt(argv, 0))
                                    .arg(ivAt(argv, 1))
                                    .arg(wideAt(argv, 2)));
            break;
        case event::ReadyToSend:
            if (argc >= 1) self->readyToSend(ivAt(argv, 0));
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        // Never let an exception cross back into the engine.
        emit self->note(QStringLiteral("event %1 failed: %2").arg(ev).arg(QString::fromUtf8(e.what())));
        return 1;
    }
    return 0;
}

void SimServer::connected(int id)
{
    ++recorder_.counters().connections;
    Link& link = links_[id];
    link.connection = std::make_unique<SimConnection>(recorder_, [this, id](const QByteArray& reply) {
        queueReply(id, reply);
    });
    link.paceTimer = std::make_unique<QTimer>();
    link.paceTimer->setSingleShot(true);
    connect(link.paceTimer.get(), &QTimer::timeout, this, [this, id] { pump(id); });
    link.ackTimer = std::make_unique<QTimer>();
    link.ackTimer->setSingleShot(true);
    connect(link.ackTimer.get(), &QTimer::timeout, this, [this, id] {
        const auto it = links_.find(id);
        if (it == links_.end()) return;
        emit note(QStringLiteral("connection %1: no acknowledgement in time").arg(id));
        it->second.connection->ackTimedOut();
        scheduleTurn(id);
        emit requestHandled();
    });
    emit note(QStringLiteral("connection %1: opened").arg(id));
    emit requestHandled();
}

void SimServer::dataIn(int id, const QByteArray& bytes)
{
    const auto it = links_.find(id);
    if (it == links_.end() || it->second.closing) return;
    it->second.connection->dataIn(bytes);
    limitReading(id);
    scheduleTurn(id);
}

void SimServer::scheduleTurn(int id)
{
    const auto it = links_.find(id);
    if (it == links_.end()) return;
    Link& link = it->second;
    if (link.turnScheduled || link.closing || !link.connection->canServe() ||
        link.queuedBytes >= recorder_.options().replyQueueLimit)
        return;
    link.turnScheduled = true;
    QTimer::singleShot(0, this, [this, id] { turn(id); });
}

void SimServer::turn(int id)
{
    const auto it = links_.find(id);
    if (it == links_.end()) return;
    Link& link = it->second;
    link.turnScheduled = false;
    if (link.closing) return;
    SimConnection& connection = *link.connection;
    const qint64 before = recorder_.counters().requests;
    int answered = 0;
    connection.serve([&] {
        return answered++ < kRequestsPerTurn && link.queuedBytes < recorder_.options().replyQueueLimit;
    });
    // The wait for an acknowledgement starts once the upload response is out
    // (pump), and starts afresh when a new response replaces the awaited one.
    if (!connection.awaitingAck() || recorder_.counters().requests != before) link.ackTimer->stop();
    startAckWait(link);
    limitReading(id);
    scheduleTurn(id);
    if (recorder_.counters().requests != before) emit requestHandled();
}

// Requests that pile up stay in the client's socket, not here.
void SimServer::limitReading(int id)
{
    const auto it = links_.find(id);
    if (it == links_.end()) return;
    Link& link = it->second;
    const qint64 waiting = link.connection->waitingBytes();
    Counters& counters = recorder_.counters();
    counters.waitingBytesPeak = std::max(counters.waitingBytesPeak, waiting);
    const qint64 limit = recorder_.options().requestQueueLimit;
    const bool pause = !link.readingPaused && waiting > limit;
    const bool resume = link.readingPaused && waiting <= limit / 2;
    if (!pause && !resume) return;
    link.readingPaused = pause;
    if (pause) {
        ++counters.readPauses;
        emit note(QStringLiteral("connection %1: %2 bytes of requests waiting; reading paused").arg(id).arg(waiting));
    }
    CorvaneWS_WebSocketServer_Set(handle_, prop::WebSocketConnectionAcceptData, id, iv(pause ? 0 : 1), 0);
}

void SimServer::startAckWait(Link& link)
{
    if (link.queue.empty() && link.connection->awaitingAck() && !link.ackTimer->isActive())
        link.ackTimer->start(recorder_.options().ackTimeoutMs);
}

void SimServer::disconnected(int id, int status, const QString& description)
{
    if (links_.erase(id) == 0) return;
    ++recorder_.counters().disconnects;
    emit note(QStringLiteral("connection %1: closed (%2 %3)").arg(id).arg(status).arg(description));
    emit requestHandled();
}

void SimServer::readyToSend(int id)
{
    const auto it = links_.find(id);
    if (it == links_.end() || !it->second.queueFull) return;
    it->second.queueFull = false;
    pump(id);
}

void SimServer::queueReply(int id, const QByteArray& reply)
{
    const auto it = links_.find(id);
    if (it == links_.end()) return;
    ++recorder_.counters().repliesSent;
    it->second.queue.push_back({reply, planner_.plan(reply.size())});
    it->second.queuedBytes += it->second.queue.back().plan.total;
    recorder_.counters().replyQueuePeak = std::max(recorder_.counters().replyQueuePeak, it->second.queuedBytes);
    if (it->second.queue.size() == 1 && !it->second.paceTimer->isActive() && !it->second.queueFull)
        QTimer::singleShot(0, this, [this, id] { pump(id); });
}

int SimServer::sendPiece(int id, const char* data, qint64 length)
{
    void* argv[3] = {iv(id), const_cast<char*>(data), nullptr};
    int arglen[3] = {0, int(length), 0};
    return CorvaneWS_WebSocketServer_Do(handle_, corvanews20::kMethodOffset + method::Send, 2, argv, arglen, nullptr);
}

void SimServer::pump(int id)
{
    pumpPieces(id);
    // Room in the reply queue lets the requests that waited for it go on.
    scheduleTurn(id);
}

void SimServer::pumpPieces(int id)
{
    int pieces = 0;
    qint64 bytes = 0;
    for (;;) {
        const auto it = links_.find(id);
        if (it == links_.end()) return;
        Link& link = it->second;
        if (link.queue.empty()) {
            startAckWait(link);
            return;
        }
        if (link.queueFull || link.closing || link.paceTimer->isActive()) return;
        Outgoing& out = link.queue.front();
        if (out.next >= out.plan.pieceCount()) {
            const bool cut = out.plan.disconnectAfter;
            link.queue.pop_front();
            if (cut) {
                ++recorder_.counters().cuts;
                emit note(QStringLiteral("connection %1: cut in the middle of a message").arg(id));
                closeLink(id);
                emit requestHandled();
                return;
            }
            continue;
        }
        const Piece piece = out.plan.piece(out.next);
        if (piece.waitBeforeMs > 0 && !out.waited) {
            out.waited = true;
            link.paceTimer->start(piece.waitBeforeMs);
            return;
        }
        if (pieces >= kPiecesPerTurn || bytes >= kBytesPerTurn) {
            QTimer::singleShot(0, this, [this, id] { pump(id); });
            return;
        }
        const int rc = sendPiece(id, out.message.constData() + piece.offset, piece.length);
        // The engine may have reported a closed connection while it sent.
        const auto after = links_.find(id);
        if (after == links_.end() || after->second.queue.empty()) return;
        Link& still = after->second;
        if (rc == kSendQueueFull) {
            still.queueFull = true;  // OnReadyToSend resumes
            return;
        }
        if (rc != 0) {
            emit note(QStringLiteral("connection %1: send failed, %2").arg(id).arg(lastError()));
            still.queue.clear();
            still.queuedBytes = 0;
            return;
        }
        recorder_.counters().bytesSent += piece.length;
        still.queuedBytes -= piece.length;
        still.queue.front().next += 1;
        still.queue.front().waited = false;
        ++pieces;
        bytes += piece.length;
    }
}

void SimServer::closeLink(int id)
{
    const auto it = links_.find(id);
    if (it == links_.end()) return;
    it->second.closing = true;
    it->second.queue.clear();
    it->second.queuedBytes = 0;
    void* argv[2] = {iv(id), nullptr};
    int arglen[2] = {};
    CorvaneWS_WebSocketServer_Do(handle_, corvanews20::kMethodOffset + method::Disconnect, 1, argv, arglen, nullptr);
}

}  // namespace recsim
