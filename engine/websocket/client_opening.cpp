#include "engine/websocket/client_opening.h"

#include "engine/protocol/errors.h"
#include "engine/protocol/handshake.h"
#include "engine/transport/deferred_delete.h"
#include "engine/websocket/opening_head.h"

#include <QTimer>

namespace corvane::engine {

ClientOpening::ClientOpening(std::unique_ptr<ByteStream> stream, ClientOpeningEvents& events)
    : stream_(std::move(stream)), events_(events)
{
}

ClientOpening::~ClientOpening()
{
    if (stream_)
        stream_->abort();
}

void ClientOpening::start(ClientOffer offer)
{
    if (state_ != State::New || !stream_)
        return;
    offer_ = std::move(offer);
    state_ = State::Reading;
    stream_->setListener(this);
    if (!stream_->write(offer_.request.data(), int64_t(offer_.request.size()))) {
        // Reported from the event loop: the owner is still inside its own start.
        QTimer::singleShot(0, &context_, [this] {
            EntryGuard guard;
            fail(kConnectionLost, stream_ && !stream_->errorText().isEmpty() ? stream_->errorText()
                                                                           : QStringLiteral("the connection is gone"));
        });
        return;
    }
    // What the stream holds already announces itself no more.
    if (stream_->bytesBuffered() > 0)
        QTimer::singleShot(0, &context_, [this] { EntryGuard guard; readAnswer(); });
}

void ClientOpening::streamReadable()
{
    EntryGuard guard;
    readAnswer();
}

void ClientOpening::readAnswer()
{
    if (state_ != State::Reading || !stream_)
        return;
    switch (readOpeningHead(*stream_, parser_, headText_, readAhead_)) {
    case HeadRead::Waiting:
        return;
    case HeadRead::Ended:
        if (stream_->status() == ByteStream::Status::Failed)
            fail(kConnectionLost, stream_->errorText());
        else
            fail(kHandshakeFailed, QStringLiteral("connection closed during the handshake"));
        return;
    case HeadRead::Malformed:
        fail(kHandshakeFailed, QString::fromStdString(parser_.error()));
        return;
    case HeadRead::Whole:
        break;
    }
    // Nothing more is read while the owner decides.
    state_ = State::Answered;
    answer_.head = parser_.head();
    if (answer_.head.status == 101)
        answer_.mismatch = protocol::checkUpgradeResponse(answer_.head, offer_.key, offer_.subProtocols,
                                                          offer_.deflate, answer_.deflate);
    events_.openingAnswered(*this);
}

std::unique_ptr<WsConnection> ClientOpening::open(ConnectionEvents& events, const ConnectionLimits& limits)
{
    if (state_ != State::Answered || !answer_.accepted() || !stream_)
        return nullptr;
    state_ = State::Done;
    Handover handover;
    handover.peer = PeerFacts::of(*stream_);
    handover.stream = std::move(stream_);
    handover.readAhead = std::move(readAhead_);
    handover.deflate = answer_.deflate;
    return std::make_unique<WsConnection>(WsConnection::Role::Client, std::move(handover), events, limits);
}

void ClientOpening::fail(int code, const QString& detail)
{
    if (state_ == State::Done)
        return;
    state_ = State::Done;
    if (std::unique_ptr<ByteStream> s = std::move(stream_))
        s->abort();
    events_.openingFailed(*this, code, detail);
}

void ClientOpening::detach()
{
    state_ = State::Done;
    if (std::unique_ptr<ByteStream> s = std::move(stream_))
        s->abort();
}

} // namespace corvane::engine
