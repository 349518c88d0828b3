#pragma once
// What the WebSocket client component publishes, and whether a form stores
// it: the same for the tool's client and the package's.
#include "component_codegen.h"

namespace codegen {

inline constexpr Published kClientPublished[] = {
    {"Authorization", Publish::Stored},        {"AuthScheme", Publish::Stored},
    {"DataFormat", Publish::Stored},           {"FirewallAutoDetect", Publish::Stored},
    {"FirewallType", Publish::Stored},         {"FirewallHost", Publish::Stored},
    {"FirewallPassword", Publish::Stored},     {"FirewallPort", Publish::Stored},
    {"FirewallUser", Publish::Stored},         {"FollowRedirects", Publish::Stored},
    {"LocalHost", Publish::NeverStored},       {"LocalPort", Publish::Stored},
    {"Password", Publish::Stored},             {"ProxyAuthScheme", Publish::Stored},
    {"ProxyAutoDetect", Publish::Stored},      {"ProxyPassword", Publish::Stored},
    {"ProxyPort", Publish::Stored},            {"ProxyServer", Publish::Stored},
    {"ProxySSL", Publish::Stored},             {"ProxyUser", Publish::Stored},
    {"SSLCertStore", Publish::Stored},         {"SSLCertStorePassword", Publish::Stored},
    {"SSLCertStoreType", Publish::Stored},     {"SSLCertSubject", Publish::Stored},
    {"Timeout", Publish::Stored},              {"User", Publish::Stored},
};

}  // namespace codegen
