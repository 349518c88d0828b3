#pragma once
// The simulator's network side: our own WebSocket server engine object
// (CorvaneWS_WebSocketServer_* of libcorvanews20), one SimConnection per
// connection, and the replies sent piece by piece as the fault options say,
// held back while the engine's send queue is full. Each connection's requests
// are answered a few per turn of the event loop, so no client can keep the
// others waiting, and what one client can make it hold is bounded: its
// requests wait while its replies are not taken, and reading from it stops
// while too many requests wait.

#include "recorder.h"
#include "reply_plan.h"
#include "sim_connection.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>

namespace recsim {

class SimServer final : public QObject {
    Q_OBJECT

public:
    SimServer(Recorder& recorder, QObject* parent = nullptr);
    ~SimServer() override;

    // Starts listening; the engine's error text when it cannot.
    QString listen();
    int port() const;
    void shutdown();

signals:
    void requestHandled();  // after every complete request (the counters changed)
    void note(const QString& line);

private:
    struct Outgoing {
        QByteArray message;
        ReplyPlan plan;
        qint64 next = 0;        // index of the next piece
        bool waited = false;    // the wait before that piece is over
    };
    struct Link {
        std::unique_ptr<SimConnection> connection;
        std::deque<Outgoing> queue;
        std::unique_ptr<QTimer> paceTimer;
        std::unique_ptr<QTimer> ackTimer;
        qint64 queuedBytes = 0;  // of the replies in `queue`, not yet handed to the engine
        bool queueFull = false;  // the engine refused a piece: wait for ReadyToSend
        bool closing = false;
        bool turnScheduled = false;
        bool readingPaused = false;
    };

    static int sink(void* user, int event, int argc, void** argv, int* arglen);
    void connected(int id);
    void dataIn(int id, const QByteArray& bytes);
    void disconnected(int id, int status, const QString& description);
    void readyToSend(int id);
    void queueReply(int id, const QByteArray& reply);
    void scheduleTurn(int id);
    void turn(int id);
    void limitReading(int id);
    void pump(int id);
    void pumpPieces(int id);
    void startAckWait(Link& link);
    int sendPiece(int id, const char* data, qint64 length);
    void closeLink(int id);
    QString lastError() const;

    Recorder& recorder_;
    ReplyPlanner planner_;
    void* handle_ = nullptr;
    std::map<int, Link> links_;
};

}  // namespace recsim
