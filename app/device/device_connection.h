#pragma once
// What the device link needs of its WebSocket client: the connected state, a
// byte send, opening and closing, and the events it reacts to. The program's
// one is `WebSocketClient1`, a TwskWebSocketClient; tests substitute a fake.

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>


namespace device {

// The data format of a WebSocket message, as the client reports it.
inline constexpr int kTextFormat = 1;
inline constexpr int kBinaryFormat = 2;

// One data event: the bytes of a part of one WebSocket message, whether they
// end it, and the message's data format.
struct DataEvent {
    DataEvent(QByteArray data, bool lastPart, int format)
        : bytes(std::move(data)), endOfMessage(lastPart), dataFormat(format)
    {
    }
    // Binary bytes whose place in their WebSocket message is not known (a
    // server that passes on requests without it): a message may start with
    // them, and a start shorter than a header waits for what follows.
    DataEvent(QByteArray data) : bytes(std::move(data)) {}  // NOLINT(google-explicit-constructor)

    QByteArray bytes;
    std::optional<bool> endOfMessage;  // these bytes end their WebSocket message
    int dataFormat = kBinaryFormat;    // of the whole WebSocket message
};

struct ServerCertificate {
    QByteArray encoded;  // PEM or DER, as the engine hands it
    QString subject;
    QString status;      // "OK" or the verification errors
};

class DeviceConnection {
public:
    struct Handlers {
        std::function<void(const DataEvent&)> dataIn;
        std::function<void(int statusCode, const QString& description)> disconnected;
        // Told after the certificate has been accepted.
        std::function<void(const ServerCertificate&)> serverCertificate;
    };

    virtual ~DeviceConnection() = default;
    virtual void setHandlers(Handlers handlers) = 0;
    virtual bool connected() const = 0;
    virtual void send(const QByteArray& bytes) = 0;
    // Opens the connection; returns once it is open and raises (with the
    // reason as message) when it fails or times out.
    virtual void connectTo(const QString& url) = 0;
    // Closes an open connection, or abandons one being opened.
    virtual void disconnectFromRecorder() = 0;
    // While paused nothing more is taken off the connection: the recorder is
    // held back by TCP until reading resumes. Kept across connections.
    virtual void setReceivePaused(bool paused) = 0;
};

// `WebSocketClient1` over the protocol engine, or null when this build has no engine.
std::unique_ptr<DeviceConnection> makeWebSocketConnection();

}  // namespace device
