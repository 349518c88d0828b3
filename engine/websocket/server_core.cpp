#include "engine/websocket/server_core.h"

#include "engine/protocol/errors.h"
#include "engine/transport/deferred_delete.h"
#include "engine/transport/qt_socket_stream.h"
#include "engine/transport/raw_socket_stream.h"

#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace corvane::engine {

// Hands each accepted descriptor over before Qt wraps it in a socket, so a
// refused connection is closed before a byte is read.
class Listener final : public QTcpServer {
public:
    ~Listener() override { releaseSpare(); }
    std::function<void(qintptr)> onIncoming;

    // One descriptor held in reserve while listening: out of descriptors,
    // it is let go for a moment to take the waiting callers off the queue
    // and close them, so the listener does not wake again and again for
    // callers it cannot take, and they learn at once instead of hanging.
    void holdSpare()
    {
        if (spare_ < 0)
            spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    void releaseSpare()
    {
        if (spare_ >= 0)
            ::close(spare_);
        spare_ = -1;
    }
    // Closes every caller waiting in the queue; false when no descriptor
    // could be had for it.
    bool turnAwayWaiting()
    {
        if (spare_ < 0)
            holdSpare();
        if (spare_ < 0 || socketDescriptor() < 0)
            return false;
        releaseSpare();
        for (int fd; (fd = ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            ::close(fd);
        holdSpare();
        return true;
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (onIncoming)
            onIncoming(descriptor);
        else
            ::close(int(descriptor));
    }

private:
    int spare_ = -1;
};

namespace {
constexpr int64_t kMaxInt = std::numeric_limits<int>::max();
}

ServerCore::ServerCore(ServerEvents& events) : events_(events), listener_(std::make_unique<Listener>())
{
    listener_->onIncoming = [this](qintptr fd) {
        EntryGuard guard;
        onIncoming(fd);
    };
    QObject::connect(listener_.get(), &QTcpServer::acceptError, &timerContext_,
                     [this](QAbstractSocket::SocketError error) {
                         EntryGuard guard;
                         onAcceptError(int(error));
                     });
}

ServerCore::~ServerCore()
{
    detachAll();
}

void ServerCore::detachAll()
{
    detached_ = true;
    listener_->onIncoming = nullptr;
    stopListening();
    for (auto& [id, c] : conns_) {
        if (c.opening)
            c.opening->detach();
        if (c.ws)
            c.ws->detach();
        deferDelete(std::move(c.opening));
        deferDelete(std::move(c.ws));
    }
    conns_.clear();
    held_.clear();
    queuedTotal_ = 0;
}

void ServerCore::setSettings(const ServerSettings& settings)
{
    const bool limitsChanged = !(settings.limits == settings_.limits);
    settings_ = settings;
    if (limitsChanged)
        for (auto& [id, c] : conns_)
            if (c.ws)
                c.ws->setLimits(limitsFor(c.timeout));
}

ConnectionLimits ServerCore::limitsFor(int timeoutSeconds) const
{
    ConnectionLimits l = settings_.limits;
    l.idleTimeoutMs = int(std::min<int64_t>(int64_t(timeoutSeconds) * 1000, kMaxInt));
    return l;
}

OpeningLimits ServerCore::openingLimits() const
{
    OpeningLimits l;
    l.maxHeadSize = settings_.maxHeadSize;
    l.handshakeTimeoutMs = settings_.handshakeTimeoutMs;
    l.closeTimeoutMs = settings_.limits.closeTimeoutMs;
    l.deflate = settings_.limits.deflate;
    return l;
}

// ---- listening ----

int ServerCore::listen(const QHostAddress& address, uint16_t port, int backlog, QString& why)
{
    if (detached_)
        return kListenFailed;
    listener_->setListenBacklogSize(backlog);
    if (!listener_->listen(address, port)) {
        why = listener_->errorString();
        return kListenFailed;
    }
    listener_->holdSpare();
    outOfDescriptors_ = false;
    events_.serverLog(0, 1, QStringLiteral("Listening on %1:%2").arg(address.toString()).arg(listener_->serverPort()),
                      QStringLiteral("Listen"));
    return 0;
}

void ServerCore::stopListening()
{
    listener_->close();
    listener_->releaseSpare();
}

bool ServerCore::isListening() const { return listener_->isListening(); }

uint16_t ServerCore::port() const { return listener_->serverPort(); }

void ServerCore::resumeAcceptingSoon(int ms)
{
    QTimer::singleShot(ms, &timerContext_, [this] {
        if (listener_->isListening())
            listener_->resumeAccepting();
    });
}

// Qt stops accepting after any error but "try again"; one connection that
// went away in the queue, or a time without descriptors, must not end the
// server's service.
void ServerCore::onAcceptError(int error)
{
    if (error != QAbstractSocket::SocketResourceError) {
        events_.serverLog(0, 1, QStringLiteral("Accept failed (%1): %2").arg(error).arg(listener_->errorString()),
                          QStringLiteral("Listen"));
        if (!detached_)
            resumeAcceptingSoon(0);
        return;
    }
    if (!outOfDescriptors_) {
        outOfDescriptors_ = true;
        events_.serverLog(0, 1,
                          QStringLiteral("Out of descriptors (%1): callers are turned away until some are free")
                              .arg(listener_->errorString()),
                          QStringLiteral("Listen"));
        if (detached_)
            return;
    }
    // The waiting callers are closed, so the listener sleeps until the next
    // one comes; without a spare descriptor it looks again a little later.
    const bool emptied = listener_->turnAwayWaiting();
    resumeAcceptingSoon(emptied ? 0 : 250);
}

void ServerCore::onIncoming(qintptr fd)
{
    outOfDescriptors_ = false;
    // Who is calling, from the descriptor itself: nothing is read yet.
    sockaddr_storage peer{};
    socklen_t len = sizeof(peer);
    QHostAddress address;
    quint16 port = 0;
    if (::getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
        address.setAddress(reinterpret_cast<const sockaddr*>(&peer));
        port = peer.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port)
                                          : ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
        bool v4 = false;
        if (const quint32 a = address.toIPv4Address(&v4); v4)
            address = QHostAddress(a);
    }
    if (!events_.serverConnectionRequest(address, port) || detached_) {
        ::close(int(fd));
        return;
    }
    const bool tls = settings_.tls;
    const ConnectionLimits limits = limitsFor(settings_.defaultTimeout);
    std::unique_ptr<ByteStream> stream;
    QSslSocket* socket = nullptr;
    if (tls) {
        // TLS is Qt's; a plain connection is read straight from its descriptor.
        socket = new QSslSocket();
        if (!socket->setSocketDescriptor(fd)) {
            ::close(int(fd));
            delete socket;
            return;
        }
        stream = std::make_unique<QtSocketStream>(socket, int64_t(std::max<size_t>(limits.readBufferSize, 64 * 1024)));
    } else {
        stream = std::make_unique<RawSocketStream>(int(fd));
    }
    const int id = nextId_++;
    Conn& c = conns_[id];
    c.timeout = settings_.defaultTimeout;
    c.opening = std::make_unique<ServerOpening>(std::move(stream), static_cast<OpeningEvents&>(*this), openingLimits());
    c.opening->id = id;
    if (tls && (configureTls(*socket, id) != 0 || detached_ || find(id) == nullptr))
        return;
    if (Conn* still = find(id); still != nullptr && still->opening)
        still->opening->start(tls);
}

// The owner chooses the certificate (and may pick another one for this
// connection); the client's side of TLS is the core's settings.
int ServerCore::configureTls(QSslSocket& socket, int id)
{
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    std::string why;
    const int rc = events_.serverCertificate(id, ssl, why);
    if (detached_ || find(id) == nullptr)
        return rc;
    if (rc != 0) {
        events_.serverError(id, rc, QString::fromStdString(why));
        if (Conn* still = find(id); still != nullptr && still->opening)
            still->opening->abort(QStringLiteral("no server certificate"));
        return rc;
    }
    if (settings_.authenticateClients) {
        ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!settings_.trustedCAFile.isEmpty())
            ssl.addCaCertificates(QSslCertificate::fromPath(settings_.trustedCAFile, QSsl::Pem));
    } else {
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    socket.setSslConfiguration(ssl);
    return 0;
}

// ---- connections ----

ServerCore::Conn* ServerCore::find(int id)
{
    const auto it = conns_.find(id);
    return it == conns_.end() ? nullptr : &it->second;
}

const ServerCore::Conn* ServerCore::find(int id) const
{
    const auto it = conns_.find(id);
    return it == conns_.end() ? nullptr : &it->second;
}

const PeerFacts* ServerCore::peer(int id) const
{
    const Conn* c = find(id);
    if (c == nullptr)
        return nullptr;
    return c->ws ? &c->ws->peer() : c->opening ? &c->opening->peer() : nullptr;
}

WsConnection* ServerCore::connection(int id) const
{
    const Conn* c = find(id);
    return c ? c->ws.get() : nullptr;
}

bool ServerCore::opened(int id) const
{
    const Conn* c = find(id);
    return c != nullptr && c->opened;
}

int ServerCore::idleTimeout(int id) const
{
    const Conn* c = find(id);
    return c ? c->timeout : 0;
}

void ServerCore::setIdleTimeout(int id, int seconds)
{
    if (Conn* c = find(id)) {
        c->timeout = seconds;
        if (c->ws)
            c->ws->setLimits(limitsFor(seconds));
    }
}

bool ServerCore::acceptsData(int id) const
{
    const Conn* c = find(id);
    return c != nullptr && c->acceptData;
}

void ServerCore::setAcceptData(int id, bool accept)
{
    if (Conn* c = find(id)) {
        c->acceptData = accept;
        if (c->ws)
            c->ws->setReadPaused(WsConnection::kPausedByHost, !accept);
    }
}

void ServerCore::close(int id, uint16_t code, const std::string& reason)
{
    Conn* c = find(id);
    if (c == nullptr)
        return;
    if (c->ws)
        c->ws->close(code, reason);
    else if (c->opening)
        c->opening->close(code, QString::fromStdString(reason));
}

void ServerCore::shutdown()
{
    stopListening();
    std::vector<int> ids;
    for (const auto& [id, c] : conns_)
        ids.push_back(id);
    for (int id : ids) {
        close(id, protocol::close_code::kGoingAway, "server shutting down");
        if (detached_)
            return;
    }
}

// ---- opening events ----

bool ServerCore::openingVerifyPeer(ServerOpening& opening, const QList<QSslCertificate>& chain, bool accept,
                                   const QString& status)
{
    Conn* c = find(opening.id);
    if (c == nullptr)
        return false;
    if (!settings_.authenticateClients)
        return true;
    c->clientAuthAsked = true;
    return events_.serverVerifyClient(opening.id, chain, accept, status) && !detached_;
}

void ServerCore::openingTlsReady(ServerOpening& opening)
{
    const int id = opening.id;
    Conn* c = find(id);
    if (c == nullptr)
        return;
    if (settings_.authenticateClients && !c->clientAuthAsked) {
        // The chain verified without complaint: ask with Accept preset true.
        const QSslSocket* ssl = opening.sslSocket();
        const QList<QSslCertificate> chain = ssl ? ssl->peerCertificateChain() : QList<QSslCertificate>();
        if (!openingVerifyPeer(opening, chain, !chain.isEmpty(), chain.isEmpty() ? "No certificate" : "OK")) {
            if (!detached_ && find(id) != nullptr)
                opening.abort(QStringLiteral("client certificate refused"));
            return;
        }
        if (detached_ || find(id) == nullptr)
            return;
    }
    events_.serverTlsReady(id);
}

void ServerCore::openingRequest(ServerOpening& opening, OpenRequest& open)
{
    events_.serverOpenRequest(opening.id, open);
}

// The table entry becomes a connection, which opens at once; the stage is
// retired (its code is still on the stack).
void ServerCore::openingAccepted(ServerOpening& opening, Handover&& handover)
{
    const int id = opening.id;
    Conn* c = find(id);
    if (c == nullptr || c->opening.get() != &opening)
        return;
    deferDelete(std::move(c->opening));
    c->ws = std::make_unique<WsConnection>(WsConnection::Role::Server, std::move(handover),
                                           static_cast<ConnectionEvents&>(*this), limitsFor(c->timeout));
    c->ws->id = id;
    c->ws->start();
}

void ServerCore::openingError(ServerOpening& opening, int code, const QString& text)
{
    events_.serverError(opening.id, code, text);
}

void ServerCore::openingLog(ServerOpening& opening, int level, const QString& message, const QString& type)
{
    events_.serverLog(opening.id, level, message, type);
}

void ServerCore::openingEnded(ServerOpening& opening, int statusCode, const QString& reason)
{
    ended(opening.id, statusCode, reason);
}

// ---- connection events ----

void ServerCore::connectionOpened(WsConnection& ws)
{
    Conn* c = find(ws.id);
    if (c == nullptr)
        return;
    c->opened = true;
    if (!c->acceptData)
        ws.setReadPaused(WsConnection::kPausedByHost, true);
    events_.serverOpened(ws.id);
}

void ServerCore::connectionData(WsConnection& ws, protocol::Opcode type, const uint8_t* data, size_t n, bool last)
{
    events_.serverData(ws.id, type, data, n, last);
}

void ServerCore::connectionReadyToSend(WsConnection& ws)
{
    events_.serverReadyToSend(ws.id);
}

void ServerCore::connectionError(WsConnection& ws, int code, const QString& text)
{
    events_.serverError(ws.id, code, text);
}

void ServerCore::connectionLog(WsConnection& ws, int level, const QString& message, const QString& type)
{
    events_.serverLog(ws.id, level, message, type);
}

// Past maxQueuedBytes over all connections, reading pauses on each
// connection that holds more than its even share, so no more answers pile up
// for peers that do not read them; it resumes once its queue is down to half
// its share, or the whole to half the bound.
void ServerCore::connectionQueueChanged(WsConnection& ws)
{
    Conn* c = find(ws.id);
    if (c == nullptr)
        return;
    const int64_t queued = ws.queuedBytes();
    queuedTotal_ += queued - c->queued;
    c->queued = queued;
    const int64_t bound = settings_.maxQueuedBytes;
    if (bound <= 0) {
        releaseAllHeld();
        return;
    }
    const int64_t share = bound / int64_t(std::max<size_t>(conns_.size(), 1));
    if (queuedTotal_ > bound && queued > share && !c->heldByBound)
        holdByBound(*c, true);
    else if (queuedTotal_ <= bound / 2)
        releaseAllHeld();
    else if (c->heldByBound && queued <= share / 2)
        holdByBound(*c, false);
}

void ServerCore::releaseAllHeld()
{
    for (int id : std::vector<int>(held_))
        if (Conn* h = find(id))
            holdByBound(*h, false);
}

void ServerCore::holdByBound(Conn& c, bool held)
{
    if (c.heldByBound == held)
        return;
    c.heldByBound = held;
    const int id = c.ws->id;
    if (held)
        held_.push_back(id);
    else
        held_.erase(std::remove(held_.begin(), held_.end(), id), held_.end());
    c.ws->setReadPaused(WsConnection::kPausedByBound, held);
}

void ServerCore::connectionClosed(WsConnection& ws, int statusCode, const QString& reason)
{
    ended(ws.id, statusCode, reason);
}

void ServerCore::ended(int id, int statusCode, const QString& reason)
{
    const auto it = conns_.find(id);
    if (it == conns_.end())
        return;
    queuedTotal_ -= it->second.queued;
    if (it->second.heldByBound)
        held_.erase(std::remove(held_.begin(), held_.end(), id), held_.end());
    // Gone from the table before the owner hears of it; its own code is
    // still on the stack.
    deferDelete(std::move(it->second.opening));
    deferDelete(std::move(it->second.ws));
    conns_.erase(it);
    events_.serverClosed(id, statusCode, reason);
}

} // namespace corvane::engine
