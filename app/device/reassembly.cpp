#include "device/reassembly.h"

#include "device/device_message.h"

#include <cstring>
#include <utility>

namespace device {

void Reassembly::feed(const QByteArray& bytes)
{
    if (state_ == ReceiveState::Idle)
        feedIdle(bytes);
    else
        feedCollecting(bytes);
}

void Reassembly::reset()
{
    state_ = ReceiveState::Idle;
    messageSize_ = 0;
    receiveLength_ = 0;
    receiveBuffer_ = QByteArray();
    pendingHeader_ = QByteArray();
}

void Reassembly::feedIdle(const QByteArray& bytes)
{
    // The engine hands over frames and socket reads as they come, so a header
    // may be split; its start waits for the rest instead of being dropped
    // (which would lose the message and misread what follows as new ones).
    if (!pendingHeader_.isEmpty()) {
        const QByteArray joined = std::exchange(pendingHeader_, QByteArray()) + bytes;
        return feedIdle(joined);
    }
    if (bytes.size() < kHeaderSize) {
        pendingHeader_ = bytes;
        return;
    }
    const std::uint32_t declared = declaredLength(bytes);
    messageSize_ = declared;
    observer_.progressMaximum(declared);
    const auto n = std::uint64_t(bytes.size());
    if (declared > maxDeclaredLength_ || declared < n) return reset();
    if (declared == n) return dispatch(bytes);

    state_ = ReceiveState::Collecting;
    receiveBuffer_ = QByteArray(qsizetype(declared), Qt::Uninitialized);
    std::memcpy(receiveBuffer_.data(), bytes.constData(), std::size_t(n));
    receiveLength_ = std::uint32_t(n);
    observer_.progressPosition(receiveLength_);
}

void Reassembly::feedCollecting(const QByteArray& bytes)
{
    observer_.progressPosition(receiveLength_);
    const auto n = std::uint64_t(bytes.size());
    if (receiveLength_ + n > messageSize_) return reset();
    std::memcpy(receiveBuffer_.data() + receiveLength_, bytes.constData(), std::size_t(n));
    receiveLength_ += std::uint32_t(n);
    if (receiveLength_ != messageSize_) return;

    observer_.sizeLine(QStringLiteral("Meassage Size = %1 Package Size = %2 gReceiveLength = %3")
                           .arg(messageSize_)
                           .arg(n)
                           .arg(receiveLength_));
    observer_.progressPosition(receiveLength_);
    dispatch(std::exchange(receiveBuffer_, QByteArray()));
}

void Reassembly::dispatch(QByteArray message)
{
    reset();
    observer_.messageComplete(message);
}

}  // namespace device
