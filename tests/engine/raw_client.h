// A WebSocket client that speaks the protocol by hand over a plain socket,
// for exact checks of handshakes and frames. It runs in the test's thread:
// the test pumps the object under test while it waits.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <functional>

namespace engine_test {

class RawClient {
public:
    RawClient() = default;
    explicit RawClient(int port)
    {
        connectTo(port);
        socket.waitForConnected(5000);
    }
    bool connectTo(int port)
    {
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        return true;
    }

    static QByteArray request(const QByteArray& extraHeaders = {}, const QByteArray& path = "/")
    {
        return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
             + extraHeaders + "\r\n";
    }
    void sendRequest(const QByteArray& extraHeaders = {}, const QByteArray& path = "/")
    {
        socket.write(request(extraHeaders, path));
    }

    // A frame with the client's mask (or none, which a server must refuse).
    static QByteArray frame(int opcode, const QByteArray& payload, bool masked = true, bool fin = true)
    {
        QByteArray f;
        f.append(char((fin ? 0x80 : 0) | opcode));
        const char maskBit = masked ? char(0x80) : char(0);
        const qsizetype n = payload.size();
        if (n < 126) {
            f.append(char(maskBit | n));
        } else if (n < 65536) {
            f.append(char(maskBit | 126));
            f.append(char(n >> 8));
            f.append(char(n & 0xff));
        } else {
            f.append(char(maskBit | 127));
            for (int i = 7; i >= 0; --i)
                f.append(char((quint64(n) >> (8 * i)) & 0xff));
        }
        const char mask[4] = {0x12, 0x34, 0x56, 0x78};
        if (masked)
            f.append(mask, 4);
        for (qsizetype i = 0; i < n; ++i)
            f.append(masked ? char(payload[i] ^ mask[i % 4]) : payload[i]);
        return f;
    }
    void sendFrame(int opcode, const QByteArray& payload, bool fin = true) { socket.write(frame(opcode, payload, true, fin)); }

    // Reads until done(received) or the deadline, pumping the peer with pump.
    QByteArray readUntil(const std::function<bool(const QByteArray&)>& done, const std::function<void()>& pump,
                         int ms = 10000)
    {
        QDeadlineTimer deadline(ms);
        while (!done(received) && !deadline.hasExpired()) {
            if (pump)
                pump();
            // The pump may have read the socket's data already, so read whatever is buffered.
            if (socket.bytesAvailable() == 0)
                socket.waitForReadyRead(pump ? 5 : 100);
            if (socket.isOpen())
                received += socket.readAll();
            if (socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        return received;
    }

    // Call repeatedly: reads what arrived; true once a whole head is there.
    bool haveHead()
    {
        if (!head.isEmpty())
            return true;
        buffer += socket.readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        head = buffer.left(end + 4);
        buffer.remove(0, end + 4);
        return true;
    }
    struct Frame {
        int opcode = -1;
        bool fin = false;
        QByteArray payload;
    };
    // Call repeatedly: true once a whole frame is there (taken into frame).
    bool haveFrame(Frame& frame)
    {
        buffer += socket.readAll();
        if (buffer.size() < 2)
            return false;
        const auto b = [&](int i) { return quint8(buffer[i]); };
        quint64 len = b(1) & 0x7f;
        qsizetype at = 2;
        if (len == 126) {
            if (buffer.size() < 4)
                return false;
            len = (quint64(b(2)) << 8) | b(3);
            at = 4;
        } else if (len == 127) {
            if (buffer.size() < 10)
                return false;
            len = 0;
            for (int i = 0; i < 8; ++i)
                len = (len << 8) | b(2 + i);
            at = 10;
        }
        if (b(1) & 0x80)
            at += 4;   // a server must not mask; the test checks the bit separately
        if (quint64(buffer.size()) < at + len)
            return false;
        frame.opcode = b(0) & 0x0f;
        frame.fin = b(0) & 0x80;
        frame.payload = buffer.mid(at, qsizetype(len));
        maskedFromServer = maskedFromServer || (b(1) & 0x80);
        buffer.remove(0, at + qsizetype(len));
        return true;
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket socket;
    QByteArray received;        // what readUntil collected
    QByteArray buffer, head;    // what haveHead and haveFrame have not taken yet, and the head
    bool maskedFromServer = false;
};

} // namespace engine_test
