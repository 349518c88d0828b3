#pragma once
// What the device link needs of its WebSocket client: the connected state, a
// byte send, opening and closing, and the events it reacts to. The program's
// one is `WebSocketClient1`, a TwskWebSocketClient; tests substitute a fake.

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>


namespace device {

struct ServerCertificate {
    QByteArray encoded;  // PEM or DER, as the engine hands it
    QString subject;
    QString status;      // "OK" or the verification errors
};

class DeviceConnection {
public:
    struct Handlers {
        std::function<void(const QByteArray&)> dataIn;
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
};

// `WebSocketClient1` over the protocol engine, or null when this build has no engine.
std::unique_ptr<DeviceConnection> makeWebSocketConnection();

}  // namespace device
