#include "sim_connection.h"

#include "device/device_message.h"

namespace recsim {

SimConnection::SimConnection(Recorder& recorder, std::function<void(const QByteArray&)> send)
    : recorder_(recorder), send_(std::move(send))
{
}

void SimConnection::dataIn(const QByteArray& bytes)
{
    recorder_.counters().bytesReceived += bytes.size();
    reassembly_.feed(bytes);
}

void SimConnection::messageComplete(const QByteArray& message)
{
    const bool isAck = message.size() > device::kCodeOffset &&
                       std::uint8_t(message[device::kCodeOffset]) == device::kCommandComplete;
    if (awaitingAck_ && !isAck) {
        held_.push_back(message);
        return;
    }
    serve(message);
    if (isAck && awaitingAck_) {
        awaitingAck_ = false;
        serveHeld();
    }
}

void SimConnection::serve(const QByteArray& request)
{
    for (Reply& reply : recorder_.answer(request, peer_)) {
        send_(reply.message);
        if (reply.awaitsAck) awaitingAck_ = true;
    }
}

void SimConnection::serveHeld()
{
    while (!awaitingAck_ && !held_.empty()) {
        const QByteArray next = std::move(held_.front());
        held_.pop_front();
        serve(next);
    }
}

void SimConnection::ackTimedOut()
{
    if (!awaitingAck_) return;
    ++recorder_.counters().ackTimeouts;
    awaitingAck_ = false;
    serveHeld();
}

}  // namespace recsim
