#pragma once
// One connection as the recorder handles it, without the socket: the tool's
// data events are put back together with the tool's own reassembly, each
// complete request is answered by the recorder, and while an upload response
// waits for its acknowledgement the requests behind it are held.

#include "recorder.h"

#include "device/reassembly.h"

#include <QByteArray>

#include <deque>
#include <functional>

namespace recsim {

class SimConnection final : private device::ReassemblyObserver {
public:
    // `send` gets every reply in order; the server shapes and sends it.
    SimConnection(Recorder& recorder, std::function<void(const QByteArray& reply)> send);

    // One data event of the connection.
    void dataIn(const QByteArray& bytes);
    // The acknowledgement did not come in time: serve what was held.
    void ackTimedOut();

    bool awaitingAck() const { return awaitingAck_; }
    qsizetype heldRequests() const { return held_.size(); }
    const Peer& peer() const { return peer_; }

private:
    void progressMaximum(std::uint32_t) override {}
    void progressPosition(std::uint32_t) override {}
    void sizeLine(const QString&) override {}
    void messageComplete(const QByteArray& message) override;

    void serve(const QByteArray& request);
    void serveHeld();

    Recorder& recorder_;
    std::function<void(const QByteArray&)> send_;
    device::Reassembly reassembly_{*this};
    Peer peer_;
    bool awaitingAck_ = false;
    std::deque<QByteArray> held_;
};

}  // namespace recsim
