#include "engine/websocket/server_opening.h"

#include "engine/protocol/errors.h"
#include "engine/transport/deferred_delete.h"
#include "engine/transport/transport.h"
#include "engine/websocket/opening_head.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace corvane::engine {

ServerOpening::ServerOpening(std::unique_ptr<ByteStream> stream, OpeningEvents& events, const OpeningLimits& limits)
    : stream_(std::move(stream)), events_(events), limits_(limits),
      parser_(protocol::HttpHeadParser::Kind::Request, limits.maxHeadSize), peer_(PeerFacts::of(*stream_))
{
    stream_->setListener(this);
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        EntryGuard guard;
        if (done())
            return;
        events_.openingError(*this, kTimeout, QStringLiteral("the opening handshake did not complete in time"));
        if (!done())
            end(protocol::close_code::kAbnormal, QStringLiteral("opening handshake timed out"), false);
    });
}

ServerOpening::~ServerOpening()
{
    dropTlsHooks();
    if (stream_)
        stream_->abort();
}

QSslSocket* ServerOpening::sslSocket() const
{
    return stream_ ? qobject_cast<QSslSocket*>(stream_->qtSocket()) : nullptr;
}

void ServerOpening::start(bool tls)
{
    if (state_ != State::New)
        return;
    if (limits_.handshakeTimeoutMs > 0)
        timer_.start(limits_.handshakeTimeoutMs);
    QSslSocket* ssl = sslSocket();
    if (tls && ssl != nullptr) {
        state_ = State::Tls;
        tlsHooks_ << QObject::connect(ssl, &QSslSocket::sslErrors, ssl, [this, ssl](const QList<QSslError>& errors) {
            EntryGuard guard;
            if (events_.openingVerifyPeer(*this, ssl->peerCertificateChain(), false, sslErrorsText(errors)))
                ssl->ignoreSslErrors();
        });
        tlsHooks_ << QObject::connect(ssl, &QSslSocket::encrypted, ssl, [this] {
            EntryGuard guard;
            if (state_ != State::Tls)
                return;
            state_ = State::Request;
            events_.openingTlsReady(*this);
            if (!done())
                readRequest();
        });
        ssl->startServerEncryption();
        return;
    }
    state_ = State::Request;
    if (stream_->bytesBuffered() > 0)
        QTimer::singleShot(0, &timer_, [this] { EntryGuard guard; readRequest(); });
}

void ServerOpening::streamReadable()
{
    EntryGuard guard;
    readRequest();
}

void ServerOpening::readRequest()
{
    if (!stream_ || (state_ != State::Tls && state_ != State::Request))
        return;
    if (state_ == State::Tls) {
        if (stream_->status() != ByteStream::Status::Open)
            streamEnded();
        return;
    }
    const HeadRead read = readOpeningHead(*stream_, parser_, peer_.requestHead, readAhead_);
    if (read == HeadRead::Waiting)
        return;
    if (read == HeadRead::Ended) {
        streamEnded();
        return;
    }
    // Nothing more is read here while the owner decides (its handler may run
    // an event loop); what came behind the head is the peer's first frames.
    state_ = State::Answering;
    if (read == HeadRead::Malformed) {
        events_.openingError(*this, kHandshakeFailed,
                             QString::fromStdString(errorText(kHandshakeFailed, parser_.error())));
        if (!done())
            refuse(400, parser_.error());
        return;
    }
    const protocol::UpgradeCheck check = protocol::checkUpgradeRequest(parser_.head());
    if (check.status != 0) {
        events_.openingError(*this, kHandshakeFailed, QString::fromStdString(errorText(kHandshakeFailed, check.reason)));
        if (!done())
            refuse(check.status, check.reason);
        return;
    }
    peer_.request = check.request;
    answer();
}

void ServerOpening::answer()
{
    events_.openingLog(*this, 2, QString::fromStdString(peer_.requestHead), QStringLiteral("Request"));
    if (done())
        return;
    OpenRequest open;
    open.request = peer_.request;
    open.headText = peer_.requestHead;
    events_.openingRequest(*this, open);
    if (done())
        return;
    if (open.status != 101 && open.status != 0) {
        refuse(open.status, "refused by the host", open.responseHeaders);
        return;
    }
    if (!open.subProtocol.empty() && !protocol::offersSubProtocol(peer_.request.subProtocols, open.subProtocol)) {
        events_.openingLog(*this, 1,
                           QStringLiteral("Sub-protocol %1 was not offered; none chosen")
                               .arg(QString::fromStdString(open.subProtocol)),
                           QStringLiteral("Handshake"));
        if (done())
            return;
        open.subProtocol.clear();
    }
    peer_.subProtocol = open.subProtocol;
    std::string headers = open.responseHeaders;
    std::string extension;
    const std::optional<protocol::DeflateAgreement> deflate =
        protocol::deflateAcceptOffer(peer_.request.extensions, limits_.deflate, extension);
    if (deflate) {
        if (!headers.empty() && headers.back() != '\n')
            headers += "\r\n";
        headers += "Sec-WebSocket-Extensions: " + extension + "\r\n";
    }
    const std::string reply = protocol::buildUpgradeAnswer(peer_.request.key, peer_.subProtocol, headers);
    if (!stream_->write(reply.data(), int64_t(reply.size()))) {
        streamEnded();
        return;
    }
    events_.openingLog(*this, 2, QString::fromStdString(reply), QStringLiteral("Response"));
    if (done())
        return;
    state_ = State::Done;
    timer_.stop();
    dropTlsHooks();
    Handover handover{std::move(stream_), std::move(readAhead_), deflate, peer_};
    events_.openingAccepted(*this, std::move(handover));
}

void ServerOpening::refuse(int status, const std::string& why, const std::string& extra)
{
    const std::string reply = protocol::buildRefusal(status, extra);
    stream_->write(reply.data(), int64_t(reply.size()));
    events_.openingLog(*this, 1, QString::fromStdString(reply), QStringLiteral("Response"));
    if (!done())
        end(status, QString::fromStdString(why), true);
}

// Everything before the end was read; the peer closed its side or the
// connection failed (TLS among it).
void ServerOpening::streamEnded()
{
    if (done() || !stream_)
        return;
    if (stream_->status() != ByteStream::Status::Failed) {
        end(protocol::close_code::kAbnormal, QStringLiteral("Connection closed without a close frame"), false);
        return;
    }
    const QString text = stream_->errorText();
    const int code = stream_->tlsFailed() ? kTlsFailed : kConnectionLost;
    events_.openingError(*this, code, QString::fromStdString(errorText(code, text.toStdString())));
    if (!done())
        end(protocol::close_code::kAbnormal, text, false);
}

void ServerOpening::close(int statusCode, const QString& reason)
{
    end(statusCode, reason, false);
}

void ServerOpening::abort(const QString& why)
{
    end(protocol::close_code::kAbnormal, why, false);
}

// A refusal is pushed to the kernel before the end is reported, so it
// reaches the peer even when the host stops running the event loop right
// after; what the kernel did not take lingers on its own.
void ServerOpening::end(int statusCode, const QString& reason, bool flushFirst)
{
    if (done())
        return;
    state_ = State::Done;
    timer_.stop();
    dropTlsHooks();
    if (std::unique_ptr<ByteStream> s = std::move(stream_)) {
        if (flushFirst)
            s->closeAfterFlush(limits_.closeTimeoutMs);
        else
            s->abort();
    }
    events_.openingEnded(*this, statusCode, reason);
}

void ServerOpening::detach()
{
    state_ = State::Done;
    timer_.stop();
    dropTlsHooks();
    if (std::unique_ptr<ByteStream> s = std::move(stream_))
        s->abort();
}

void ServerOpening::dropTlsHooks()
{
    for (const QMetaObject::Connection& c : tlsHooks_)
        QObject::disconnect(c);
    tlsHooks_.clear();
}

} // namespace corvane::engine
