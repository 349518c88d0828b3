#pragma once
// The simulator's command line: where it listens, what it serves and which
// faults of a real link it imitates.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace recsim {

struct SimOptions {
    QString host = QStringLiteral("127.0.0.1");
    int port = 5000;  // 0: any free port, printed once listening

    // Secure WebSocket (wss) with this PEM file of certificate and key.
    QString tlsPemFile;

    // Account the session request must name; a wrong one gets an error reply.
    QString id = QStringLiteral("installer");
    QString password = QStringLiteral("0000");
    // Serve nothing but the session request before a session was accepted.
    bool requireSession = false;

    qint64 mmvSize = 1 << 20;  // bytes of the synthetic MMV video
    int drvMaxRecords = 3600;  // one record a second, at most this many

    // ---- faults of a real link ------------------------------------------------
    qint64 fragmentSize = 0;   // each reply in pieces of this many bytes; 0: whole
    int latencyMs = 0;         // wait before each reply
    qint64 bandwidth = 0;      // bytes per second; 0: unlimited
    // The first reply longer than this is cut after this many bytes and the
    // connection closed; once per run, so a new connection is served whole.
    qint64 cutAfter = 0;
    // Upload responses declare this many bytes more (or fewer) than their
    // contents account for; the message is padded or cut to what it declares.
    int wrongLength = 0;
    // Without this, requests that arrive while an upload response waits for
    // its acknowledgement are held until it comes (or ackTimeoutMs passes).
    bool noAck = false;
    int ackTimeoutMs = 5000;

    // ---- what one connection may make it hold ------------------------------------
    // Replies queued beyond what the engine holds: past this, that connection's
    // requests wait until its client takes what was sent.
    qint64 replyQueueLimit = 8 << 20;
    // Requests received and not yet answered: past this, reading from that
    // connection stops (TCP pushes back on the client) until half are answered.
    qint64 requestQueueLimit = 1 << 20;

    // Print the counters as one JSON line on standard output after every request.
    bool countersOnStdout = true;
};

struct ParsedOptions {
    SimOptions options;
    QString error;      // not empty: the command line is wrong
    bool help = false;  // --help: print helpText() and end
};

// arguments[0] is the program name.
ParsedOptions parseOptions(const QStringList& arguments);
QString helpText();

// "64", "64k", "2M", "1G" (powers of 1024); nothing when it is not a size.
std::optional<qint64> parseSize(const QString& text);

}  // namespace recsim
