#pragma once
// One connection as the recorder handles it, without the socket: the tool's
// data events are put back together with the tool's own reassembly, and the
// complete requests wait in arrival order until the server lets them be
// answered (a few at a time, and only while the replies before them are
// being taken). While an upload response waits for its acknowledgement the
// requests behind it are held.

#include "recorder.h"

#include "device/reassembly.h"

#include <QByteArray>

#include <deque>
#include <functional>

namespace recsim {

class SimConnection final : private device::ReassemblyObserver {
public:
    // The longest request taken; a settings file is a few kilobytes, and a
    // longer declared length must not make the simulator set memory aside.
    static constexpr std::uint32_t kMaxRequestLength = 16 << 20;

    // `send` gets every reply in order; the server shapes and sends it.
    SimConnection(Recorder& recorder, std::function<void(const QByteArray& reply)> send);

    // One data event of the connection: complete requests join those waiting.
    void dataIn(const QByteArray& bytes);
    // Answers waiting requests in arrival order, asking `more` before each
    // one that gets a reply; acknowledgements, and the requests that go on
    // hold behind an upload response, cost nothing and are sorted out on the way.
    void serve(const std::function<bool()>& more = [] { return true; });
    // The acknowledgement did not come in time: what was held is served next.
    void ackTimedOut();

    bool awaitingAck() const { return awaitingAck_; }
    // Whether serve() has anything to answer now.
    bool canServe() const { return !inbox_.empty() || (!awaitingAck_ && !held_.empty()); }
    // Requests received and not yet answered, held ones included.
    qint64 waitingBytes() const { return waitingBytes_; }
    qsizetype heldRequests() const { return held_.size(); }
    const Peer& peer() const { return peer_; }

private:
    void progressMaximum(std::uint32_t) override {}
    void progressPosition(std::uint32_t) override {}
    void sizeLine(const QString&) override {}
    void messageComplete(const QByteArray& message) override;

    void answer(const QByteArray& request);
    QByteArray take(std::deque<QByteArray>& queue);

    Recorder& recorder_;
    std::function<void(const QByteArray&)> send_;
    device::Reassembly reassembly_{*this, kMaxRequestLength};
    Peer peer_;
    bool awaitingAck_ = false;
    std::deque<QByteArray> inbox_;  // arrived, not yet looked at
    std::deque<QByteArray> held_;   // behind an unacknowledged upload response
    qint64 waitingBytes_ = 0;
};

}  // namespace recsim
