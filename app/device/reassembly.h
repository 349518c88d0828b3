#pragma once
// Puts a message back together from the data events it arrives in. Message
// boundaries come from the length in the header alone; the WebSocket's own
// message ends are ignored. One message is collected at a time: a fragment
// that arrives while one is collected is taken as its continuation.

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
};

class Reassembly {
public:
    explicit Reassembly(ReassemblyObserver& observer, std::uint32_t maxDeclaredLength = 1'000'000'000)
        : observer_(observer), maxDeclaredLength_(maxDeclaredLength)
    {
    }

    // One data event's bytes.
    void feed(const QByteArray& bytes);

    // Back to idle, dropping a message being collected (the connection closed).
    void reset();

    ReceiveState gReceiveState() const { return state_; }
    std::uint32_t gMessageSize() const { return messageSize_; }
    std::uint32_t gReceiveLength() const { return receiveLength_; }
    const QByteArray& gReceiveBuffer() const { return receiveBuffer_; }
    // The start of a message shorter than a header, waiting for the rest.
    const QByteArray& pendingHeader() const { return pendingHeader_; }

private:
    void feedIdle(const QByteArray& bytes);
    void feedCollecting(const QByteArray& bytes);
    void dispatch(QByteArray message);

    ReassemblyObserver& observer_;
    const std::uint32_t maxDeclaredLength_;
    ReceiveState state_ = ReceiveState::Idle;
    std::uint32_t messageSize_ = 0;
    std::uint32_t receiveLength_ = 0;
    QByteArray receiveBuffer_;
    QByteArray pendingHeader_;
};

}  // namespace device
