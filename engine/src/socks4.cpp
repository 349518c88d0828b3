#include "engine/src/socks4.h"

#include <QHostAddress>

namespace corvane::engine {

QByteArray buildSocks4Request(const QString& host, uint16_t port, const QString& userId)
{
    QByteArray out;
    out.append(char(4)).append(char(1));
    out.append(char(port >> 8)).append(char(port & 0xFF));
    QHostAddress address;
    const bool literal = address.setAddress(host);
    if (literal && address.protocol() != QAbstractSocket::IPv4Protocol)
        return {};
    if (literal) {
        const quint32 ip = address.toIPv4Address();
        out.append(char(ip >> 24)).append(char(ip >> 16)).append(char(ip >> 8)).append(char(ip));
    } else {
        // 0.0.0.x with x != 0 tells the proxy that the name follows.
        out.append(char(0)).append(char(0)).append(char(0)).append(char(1));
    }
    out.append(userId.toUtf8()).append(char(0));
    if (!literal)
        out.append(host.toUtf8()).append(char(0));
    return out;
}

int parseSocks4Reply(const uint8_t reply[kSocks4ReplySize])
{
    if (reply[0] != 0 || reply[1] < 90 || reply[1] > 93)
        return -1;
    return reply[1];
}

QString socks4StatusText(int status)
{
    switch (status) {
    case 90: return QStringLiteral("request granted");
    case 91: return QStringLiteral("SOCKS4 request rejected or failed");
    case 92: return QStringLiteral("SOCKS4 proxy cannot reach the client's identd");
    case 93: return QStringLiteral("SOCKS4 identd reported a different user id");
    default: return QStringLiteral("malformed SOCKS4 reply");
    }
}

} // namespace corvane::engine
