#pragma once
// Puts a message back together from the data events it arrives in. A message
// starts at the start of a binary WebSocket message; its length comes from its
// header. It may go on over further WebSocket messages (a large reply comes in
// pieces), and while one is collected every data event is taken as its
// continuation. Whatever else is left of a WebSocket message once a message is
// dispatched or dropped is dropped with it, so a stray message (a keep-alive,
// a text message) never shifts the start of the next real one.
//
// Messages too large to hold (recorded files) are handed on in pieces as they
// arrive once their head is in; the others are collected whole.

#include "device/device_connection.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace device {

enum class ReceiveState { Idle = 0, Collecting = 1 };

// What the reassembly reports while it works: the download dialog's progress
// bar and memo, and the complete message.
class ReassemblyObserver {
public:
    virtual ~ReassemblyObserver() = default;
    virtual void progressMaximum(std::uint32_t maximum) = 0;
    virtual void progressPosition(std::uint32_t position) = 0;
    // The "Meassage Size = " line of a message that came in several fragments.
    virtual void sizeLine(const QString& line) = 0;
    // The complete message. The reassembly is idle again before this is
    // called, so a handler that fails (or that runs a nested event loop that
    // delivers more data) finds the state clean.
    virtual void messageComplete(const QByteArray& message) = 0;

    // How many leading bytes a message of this code and declared length needs
    // before it is handed on in pieces instead of being collected whole; 0
    // collects it. At most the declared length.
    virtual std::uint32_t streamedHead(std::uint8_t /*code*/, std::uint32_t /*declaredLength*/) { return 0; }
    // A handed-on message: its head, then every further byte as a slice of the
    // data event it came in (shared, not copied), then streamComplete once the
    // declared length is in (the reassembly is idle by then), or streamDropped
    // when the rest is not coming (an overrun, or a reset). A callback that
    // raises ends the hand-on: the observer hears nothing more of that message,
    // whose remaining bytes are counted and dropped.
    virtual void streamStarted(const QByteArray& /*head*/) {}
    virtual void streamData(const QByteArray& /*bytes*/, qsizetype /*offset*/, qsizetype /*size*/) {}
    virtual void streamComplete() {}
    virtual void streamDropped() {}
};

class Reassembly {
public:
    explicit Reassembly(ReassemblyObserver& observer, std::uint32_t maxDeclaredLength = 1'000'000'000)
        : observer_(observer), maxDeclaredLength_(maxDeclaredLength)
    {
    }

    // One data event.
    void feed(const DataEvent& event);

    // Back to idle at the start of a WebSocket message, dropping a message
    // being collected (the connection closed); a handed-on one is reported dropped.
    void reset();

    ReceiveState gReceiveState() const { return state_; }
    std::uint32_t gMessageSize() const { return messageSize_; }
    std::uint32_t gReceiveLength() const { return receiveLength_; }
    // The message being collected; of a handed-on message, its head until it is in.
    const QByteArray& gReceiveBuffer() const { return receiveBuffer_; }
    // The start of a message shorter than a header, waiting for the rest of
    // its WebSocket message.
    const QByteArray& pendingHeader() const { return pendingHeader_; }
    // The current WebSocket message is being dropped up to its end.
    bool droppingRest() const { return state_ == ReceiveState::Idle && pendingHeader_.isEmpty() && insideMessage_; }
    bool handingOn() const { return stream_ == Stream::On; }

private:
    enum class Stream { Off, Head, On, Refused };

    void start(const QByteArray& bytes, bool endOfMessage);
    void take(const QByteArray& bytes, bool first);
    void takeHandedOn(const QByteArray& bytes, std::uint32_t before, bool first, bool complete);
    void reportLastFragment(std::uint32_t size, qsizetype fragment, std::uint32_t received);
    void dropMessage();
    void clear();
    void dispatch(QByteArray message);

    ReassemblyObserver& observer_;
    const std::uint32_t maxDeclaredLength_;
    ReceiveState state_ = ReceiveState::Idle;
    std::uint32_t messageSize_ = 0;
    std::uint32_t receiveLength_ = 0;
    QByteArray receiveBuffer_;
    QByteArray pendingHeader_;
    std::uint32_t headSize_ = 0;
    Stream stream_ = Stream::Off;
    // The last data event did not end its WebSocket message.
    bool insideMessage_ = false;
};

}  // namespace device
