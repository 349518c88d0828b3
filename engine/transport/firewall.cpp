#include "engine/transport/firewall.h"

#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>

namespace corvane::engine {

ProxyConfig firewallProxy(const FirewallSettings& fw, const QString& targetHost, uint16_t targetPort)
{
    ProxyConfig p;
    if (fw.type != 0 && !fw.host.isEmpty()) {
        p.kind = fw.type == 1 ? ProxyConfig::Kind::HttpConnect
               : fw.type == 2 ? ProxyConfig::Kind::Socks4
                              : ProxyConfig::Kind::Socks5;
        p.host = fw.host;
        p.port = uint16_t(fw.port != 0 ? fw.port : fw.type == 1 ? 80 : 1080);
        p.user = fw.user;
        p.password = fw.password;
        return p;
    }
    if (fw.type == 0 && fw.autoDetect)
        return systemProxy(targetHost, targetPort);
    return p;
}

ProxyConfig systemProxy(const QString& targetHost, uint16_t targetPort)
{
    ProxyConfig p;
    const QNetworkProxyQuery query(targetHost, targetPort, QString(), QNetworkProxyQuery::TcpSocket);
    for (const QNetworkProxy& sys : QNetworkProxyFactory::systemProxyForQuery(query)) {
        if (sys.type() == QNetworkProxy::HttpProxy || sys.type() == QNetworkProxy::Socks5Proxy) {
            p.kind = sys.type() == QNetworkProxy::HttpProxy ? ProxyConfig::Kind::HttpConnect
                                                            : ProxyConfig::Kind::Socks5;
            p.host = sys.hostName();
            p.port = sys.port();
            p.user = sys.user();
            p.password = sys.password();
            break;
        }
        if (sys.type() == QNetworkProxy::NoProxy)
            break;
    }
    return p;
}

} // namespace corvane::engine
