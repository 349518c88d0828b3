#pragma once
// What the WebSocket client component publishes, and whether a form stores
// it: the same for the tool's client and the package's.
#include "component_codegen.h"

#include <array>

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

// Init's defaults, in Init's order. Only FirewallType's differs: the package
// types it as an enumeration, the tool keeps the number.
constexpr std::array<InitDefault, 25> clientInitDefaults(const char* firewallType)
{
    return {{
        {"Authorization", ""},     {"AuthScheme", "authBasic"},  {"DataFormat", "0"},
        {"FirewallAutoDetect", "False"}, {"FirewallType", firewallType}, {"FirewallHost", ""},
        {"FirewallPassword", ""},  {"FirewallPort", "0"},        {"FirewallUser", ""},
        {"FollowRedirects", "frNever"}, {"LocalPort", "0"},      {"Password", ""},
        {"ProxyAuthScheme", "authBasic"}, {"ProxyAutoDetect", "False"}, {"ProxyPassword", ""},
        {"ProxyPort", "80"},       {"ProxyServer", ""},          {"ProxySSL", "psAutomatic"},
        {"ProxyUser", ""},         {"SSLCertStore", "MY"},       {"SSLCertStorePassword", ""},
        {"SSLCertStoreType", "0"}, {"SSLCertSubject", ""},       {"Timeout", "60"},
        {"User", ""},
    }};
}

}  // namespace codegen
