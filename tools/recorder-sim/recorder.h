#pragma once
// The simulated recorder: what it answers to each request of the tool, built
// with the device message codec of the tool itself, and what it counts.
// No sockets: the server hands it complete requests and sends what it returns.

#include "sim_options.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

namespace recsim {

// The error codes of the simulator's error replies (code 255).
enum SimError : std::uint32_t {
    kErrUnknownRequest = 1,
    kErrWrongAccount = 2,
    kErrUnknownDataType = 3,
    kErrNoSession = 4,
    kErrNoData = 5,
    kErrMalformed = 6,
};

// What it received and sent, for tests and for the user watching it.
struct Counters {
    qint64 connections = 0, disconnects = 0, bytesReceived = 0, requests = 0;
    qint64 sessionRequests = 0, sessionsAccepted = 0, imageRequests = 0, gSensorInits = 0;
    qint64 settingsRequests = 0, settingsUploads = 0;
    qint64 drvRequests = 0, mmvRequests = 0, logRequests = 0, acknowledgements = 0;
    qint64 unknownRequests = 0, malformedRequests = 0, errorsSent = 0;
    qint64 repliesSent = 0, bytesSent = 0, ackTimeouts = 0, cuts = 0;
    // A client that sends faster than it is answered, or does not take its
    // replies: how often reading from it stopped, and the most request and
    // reply bytes one connection had waiting at once.
    qint64 readPauses = 0, waitingBytesPeak = 0, replyQueuePeak = 0;

    QJsonObject toJson() const;
};

// One connection's state as the recorder sees it.
struct Peer {
    bool session = false;
};

struct Reply {
    QByteArray message;
    bool awaitsAck = false;  // an upload response the tool must acknowledge
};

class Recorder {
public:
    explicit Recorder(SimOptions options);

    // The replies to one complete request (none for an acknowledgement).
    std::vector<Reply> answer(const QByteArray& request, Peer& peer);

    // The settings file it serves: its own until the tool uploads one.
    const QByteArray& settingsFile() const { return settings_; }
    int imagesSent() const { return frame_; }

    Counters& counters() { return counters_; }
    const Counters& counters() const { return counters_; }
    const SimOptions& options() const { return options_; }

    // The three texts of its session reply.
    static QString mainFirmwareName();
    static QString mcuFirmwareName();
    static QString deviceId();

private:
    std::vector<Reply> answerChecked(const QByteArray& request, Peer& peer);
    Reply error(std::uint32_t code, const QString& text);
    Reply uploadResponse(std::uint32_t dataType, std::uint32_t from, std::uint32_t to);

    SimOptions options_;
    Counters counters_;
    QByteArray settings_;
    int frame_ = 0;
};

// The synthetic MMV video bytes: a fixed pattern, so a test can check what
// arrived against what was sent.
QByteArray mmvBytes(qint64 size);

}  // namespace recsim
