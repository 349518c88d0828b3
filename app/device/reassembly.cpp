#include "device/reassembly.h"

#include "device/device_message.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace device {

void Reassembly::feed(const DataEvent& event)
{
    const bool atMessageStart = !insideMessage_;
    const bool endsMessage = event.endOfMessage.value_or(false);
    insideMessage_ = event.endOfMessage.has_value() && !endsMessage;
    if (state_ == ReceiveState::Collecting) return take(event.bytes, false);
    // The engine hands a WebSocket message over in pieces as it reads them, so
    // a header may be split; its start waits for the rest of its message.
    if (!pendingHeader_.isEmpty())
        return start(std::exchange(pendingHeader_, QByteArray()) + event.bytes, endsMessage);
    // Only the start of a binary WebSocket message starts a message.
    if (!atMessageStart || event.dataFormat == kTextFormat) return;
    start(event.bytes, endsMessage);
}

void Reassembly::reset()
{
    insideMessage_ = false;
    dropMessage();
}

// What is left of the WebSocket message it came in goes too (feed saw to that).
void Reassembly::dropMessage()
{
    const bool handedOn = stream_ == Stream::On;
    clear();
    if (handedOn) observer_.streamDropped();
}

void Reassembly::clear()
{
    state_ = ReceiveState::Idle;
    messageSize_ = 0;
    receiveLength_ = 0;
    receiveBuffer_ = QByteArray();
    pendingHeader_ = QByteArray();
    headSize_ = 0;
    stream_ = Stream::Off;
}

void Reassembly::start(const QByteArray& bytes, bool endOfMessage)
{
    if (bytes.size() < kHeaderSize) {
        // A WebSocket message that ends before a header is complete is dropped.
        if (!endOfMessage) pendingHeader_ = bytes;
        return;
    }
    const std::uint32_t declared = declaredLength(bytes);
    messageSize_ = declared;
    observer_.progressMaximum(declared);
    const auto n = std::uint64_t(bytes.size());
    if (declared > maxDeclaredLength_ || declared < n) return clear();
    const std::uint32_t head = observer_.streamedHead(messageCode(bytes), declared);
    headSize_ = head <= declared ? head : 0;
    if (headSize_ == 0 && declared == n) return dispatch(bytes);

    state_ = ReceiveState::Collecting;
    receiveLength_ = 0;
    if (headSize_ == 0) {
        receiveBuffer_ = QByteArray(qsizetype(declared), Qt::Uninitialized);
    } else {
        stream_ = Stream::Head;
        receiveBuffer_.reserve(qsizetype(headSize_));
    }
    take(bytes, true);
}

void Reassembly::take(const QByteArray& bytes, bool first)
{
    const auto n = std::uint64_t(bytes.size());
    if (!first) observer_.progressPosition(receiveLength_);
    if (receiveLength_ + n > messageSize_) return dropMessage();
    const std::uint32_t before = receiveLength_;
    receiveLength_ += std::uint32_t(n);
    const bool complete = receiveLength_ == messageSize_;
    if (stream_ != Stream::Off) return takeHandedOn(bytes, before, first, complete);

    std::memcpy(receiveBuffer_.data() + before, bytes.constData(), std::size_t(n));
    if (!complete) {
        if (first) observer_.progressPosition(receiveLength_);
        return;
    }
    reportLastFragment(messageSize_, qsizetype(n), receiveLength_);
    dispatch(std::exchange(receiveBuffer_, QByteArray()));
}

void Reassembly::takeHandedOn(const QByteArray& bytes, std::uint32_t before, bool first, bool complete)
{
    const qsizetype n = bytes.size();
    qsizetype used = 0;
    QByteArray head;
    bool headIn = false;
    if (stream_ == Stream::Head) {
        used = std::min(n, qsizetype(headSize_) - qsizetype(before));
        receiveBuffer_.append(bytes.constData(), used);
        if (receiveLength_ >= headSize_) {
            head = std::exchange(receiveBuffer_, QByteArray());
            stream_ = Stream::On;
            headIn = true;
        }
    }
    const bool handOn = stream_ == Stream::On;
    const std::uint32_t total = receiveLength_, size = messageSize_;
    // Idle before the observer hears of the end, whatever it then does.
    if (complete) clear();
    try {
        if (headIn) observer_.streamStarted(head);
        if (handOn && used < n) observer_.streamData(bytes, used, n - used);
    } catch (...) {
        if (!complete) stream_ = Stream::Refused;
        throw;
    }
    if (!complete) {
        if (first) observer_.progressPosition(total);
        return;
    }
    if (!first) reportLastFragment(size, n, total);
    if (handOn) observer_.streamComplete();
}

void Reassembly::reportLastFragment(std::uint32_t size, qsizetype fragment, std::uint32_t received)
{
    observer_.sizeLine(QStringLiteral("Meassage Size = %1 Package Size = %2 gReceiveLength = %3").arg(size).arg(fragment).arg(received));
    observer_.progressPosition(received);
}

void Reassembly::dispatch(QByteArray message)
{
    clear();
    observer_.messageComplete(message);
}

}  // namespace device
