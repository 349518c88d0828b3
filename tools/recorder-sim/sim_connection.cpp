#include "sim_connection.h"

#include "device/device_message.h"

namespace recsim {

namespace {
bool isAcknowledgement(const QByteArray& message)
{
    return message.size() > device::kCodeOffset && std::uint8_t(message[device::kCodeOffset]) == device::kCommandComplete;
}
}  // namespace

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
    inbox_.push_back(message);
    waitingBytes_ += message.size();
}

QByteArray SimConnection::take(std::deque<QByteArray>& queue)
{
    QByteArray next = std::move(queue.front());
    queue.pop_front();
    waitingBytes_ -= next.size();
    return next;
}

void SimConnection::serve(const std::function<bool()>& more)
{
    for (;;) {
        // Released by an acknowledgement: they came before anything in the inbox.
        if (!awaitingAck_ && !held_.empty()) {
            if (!more()) return;
            answer(take(held_));
            continue;
        }
        if (inbox_.empty()) return;
        if (isAcknowledgement(inbox_.front())) {
            answer(take(inbox_));  // counted, never answered
            awaitingAck_ = false;
            continue;
        }
        if (awaitingAck_) {
            QByteArray request = std::move(inbox_.front());
            inbox_.pop_front();
            held_.push_back(std::move(request));
            continue;
        }
        if (!more()) return;
        answer(take(inbox_));
    }
}

void SimConnection::answer(const QByteArray& request)
{
    for (Reply& reply : recorder_.answer(request, peer_)) {
        send_(reply.message);
        if (reply.awaitsAck) awaitingAck_ = true;
    }
}

void SimConnection::ackTimedOut()
{
    if (!awaitingAck_) return;
    ++recorder_.counters().ackTimeouts;
    awaitingAck_ = false;
}

}  // namespace recsim
