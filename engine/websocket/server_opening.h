// The server's opening stage: an accepted stream from accept through TLS and
// the opening request, up to the answer. It ends in one of two ways: the
// owner accepts, the 101 answer is written and the stream goes on, with what
// was read beyond the request head, as a WsConnection; or it is refused,
// times out or fails, and no connection is ever made. The stage holds no
// read buffer between reads, so an idle caller costs a stream and a timer.
#pragma once

#include "engine/protocol/http_head.h"
#include "engine/protocol/server_handshake.h"
#include "engine/websocket/ws_connection.h"

#include <QList>
#include <QMetaObject>
#include <QSslCertificate>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>

class QSslSocket;

namespace corvane::engine {

class ServerOpening;

// What an opening request asked for and what the owner answers.
struct OpenRequest {
    protocol::UpgradeRequest request;
    std::string headText;                // the request head as received
    std::string subProtocol;             // answer: one of the offered, or empty
    int status = 101;                    // answer: 101 accepts, an HTTP error status refuses
    std::string responseHeaders;         // answer: extra header lines
};

struct OpeningLimits {
    size_t maxHeadSize = 16 << 10;       // the opening request's head; a longer one is answered 400
    int handshakeTimeoutMs = 20000;      // TLS and the whole request must be done by then; 0 none
    int closeTimeoutMs = 5000;           // how long a refusal may linger on its way to the peer
    protocol::DeflateSettings deflate;   // compressed messages offered by a client are taken
};

class OpeningEvents {
public:
    virtual ~OpeningEvents() = default;
    // TLS: the peer's certificate chain, preset Accept; return the answer.
    virtual bool openingVerifyPeer(ServerOpening&, const QList<QSslCertificate>&, bool accept, const QString&)
    {
        return accept;
    }
    virtual void openingTlsReady(ServerOpening&) {}
    // A valid opening request; fill the answer fields.
    virtual void openingRequest(ServerOpening&, OpenRequest&) {}
    // Accepted and answered: the stream goes on as a connection. The stage is
    // done and may be retired.
    virtual void openingAccepted(ServerOpening&, Handover&& handover) = 0;
    virtual void openingError(ServerOpening&, int code, const QString& text) = 0;
    virtual void openingLog(ServerOpening&, int level, const QString& message, const QString& type) = 0;
    // The end without a connection, once: the refusal's status, the owner's
    // close code, or 1006. The stream is released, a refusal already written.
    virtual void openingEnded(ServerOpening&, int statusCode, const QString& reason) = 0;
};

class ServerOpening final : private ByteStream::Listener {
public:
    // Takes the accepted stream; a QSslSocket under it may start TLS in start.
    ServerOpening(std::unique_ptr<ByteStream> stream, OpeningEvents& events, const OpeningLimits& limits);
    ~ServerOpening() override;
    ServerOpening(const ServerOpening&) = delete;
    ServerOpening& operator=(const ServerOpening&) = delete;

    // Waits for the opening request, after TLS when asked for.
    void start(bool tls);

    const PeerFacts& peer() const { return peer_; }
    QSslSocket* sslSocket() const;
    bool done() const { return state_ == State::Done; }

    // Ends at once, without an answer, reported with this code and reason.
    void close(int statusCode, const QString& reason);
    // Ends at once, reported as 1006.
    void abort(const QString& why);
    // Ends without any further callback (an owner going away).
    void detach();

    int id = 0;   // the owner's id

private:
    enum class State { New, Tls, Request, Answering, Done };

    // ByteStream::Listener
    void streamReadable() override;
    void streamWritten() override {}

    void readRequest();
    void answer();
    void refuse(int status, const std::string& why, const std::string& extra = {});
    void streamEnded();
    void end(int statusCode, const QString& reason, bool flushFirst);
    void dropTlsHooks();

    State state_ = State::New;
    std::unique_ptr<ByteStream> stream_;
    OpeningEvents& events_;
    OpeningLimits limits_;
    protocol::HttpHeadParser parser_;
    PeerFacts peer_;
    std::string readAhead_;
    QTimer timer_;
    QList<QMetaObject::Connection> tlsHooks_;
};

} // namespace corvane::engine
