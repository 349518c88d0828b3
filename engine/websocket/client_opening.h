// The client's opening stage: over a connected stream (TCP, a tunnel and TLS
// are done already), it writes the request the client object built, reads
// the answer head and checks a 101 against the request (accept key,
// sub-protocol, extensions). What to do with the answer (redirects,
// authentication, cookies) is the client object's; this stage does the byte
// work. Accepted, the stream goes on, with the frames the server sent right
// behind its answer, as a client-role WsConnection.
#pragma once

#include "engine/protocol/http_head.h"
#include "engine/protocol/permessage_deflate.h"
#include "engine/websocket/ws_connection.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>

namespace corvane::engine {

class ClientOpening;

// The request and what an answer to it must match.
struct ClientOffer {
    std::string request;                 // the request head, as sent
    std::string key;                     // its Sec-WebSocket-Key
    std::string subProtocols;            // the sub-protocols asked for, comma-separated; empty none
    protocol::DeflateSettings deflate;   // compressed messages offered when enabled
};

// The server's answer head, and for a 101 whether it answers the offer.
struct ClientAnswer {
    protocol::HttpHead head;
    std::string mismatch;                // a 101 that does not fit the offer: why; empty otherwise
    std::optional<protocol::DeflateAgreement> deflate;   // what a fitting 101 agreed

    bool accepted() const { return head.status == 101 && mismatch.empty(); }
};

class ClientOpeningEvents {
public:
    virtual ~ClientOpeningEvents() = default;
    // The answer head is in (ClientOpening::answer); nothing more is read
    // until the owner opens the connection or drops the stage.
    virtual void openingAnswered(ClientOpening&) = 0;
    // No answer: a malformed or too long head, the stream ended or failed
    // before it was whole. The stream is released.
    virtual void openingFailed(ClientOpening&, int code, const QString& detail) = 0;
};

class ClientOpening final : private ByteStream::Listener {
public:
    ClientOpening(std::unique_ptr<ByteStream> stream, ClientOpeningEvents& events);
    ~ClientOpening() override;
    ClientOpening(const ClientOpening&) = delete;
    ClientOpening& operator=(const ClientOpening&) = delete;

    // Writes the request and reads the answer.
    void start(ClientOffer offer);

    const ClientAnswer& answer() const { return answer_; }
    // The answer head as received so far (all of it once answered).
    const std::string& headText() const { return headText_; }

    // After an accepting answer: the stream, the frames read behind the head
    // and the agreement become a connection in the client role (not yet
    // started). Null when the answer did not accept.
    std::unique_ptr<WsConnection> open(ConnectionEvents& events, const ConnectionLimits& limits);

    // Ends without any further callback.
    void detach();

private:
    enum class State { New, Reading, Answered, Done };

    // ByteStream::Listener
    void streamReadable() override;
    void streamWritten() override {}

    void readAnswer();
    void fail(int code, const QString& detail);

    State state_ = State::New;
    std::unique_ptr<ByteStream> stream_;
    ClientOpeningEvents& events_;
    ClientOffer offer_;
    protocol::HttpHeadParser parser_;
    std::string headText_;
    std::string readAhead_;
    ClientAnswer answer_;
    QObject context_;   // the stage's own deferred reads go with it
};

} // namespace corvane::engine
