// The Firewall* properties of an engine object as the outgoing transport's
// proxy settings: HTTP CONNECT, SOCKS4 or SOCKS5 at an explicit host, or the
// system's proxy settings when asked to detect them.
#pragma once

#include "engine/transport/transport.h"

namespace corvane::engine {

struct FirewallSettings {
    int type = 0;              // 0 none, 1 HTTP CONNECT tunnel, 2 SOCKS4, 3 SOCKS5
    QString host;
    int port = 0;              // 0: 80 for a tunnel, 1080 for SOCKS
    QString user, password;
    bool autoDetect = false;   // without a type: the system's settings for the target
};

ProxyConfig firewallProxy(const FirewallSettings& fw, const QString& targetHost, uint16_t targetPort);
// The system's proxy for a TCP connection to the target: an HTTP or SOCKS5
// proxy, or none (Kind::None).
ProxyConfig systemProxy(const QString& targetHost, uint16_t targetPort);

} // namespace corvane::engine
