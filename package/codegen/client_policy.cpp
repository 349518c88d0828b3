// The package's client: the tool's client surface (numbers of
// corvanews20_client.h) with the package's flavour, and FirewallType as an
// enumeration.
#include "component_codegen.h"
#include "corvanews20_client.h"
#include "package_policies.h"

using namespace codegen;

namespace {

constexpr Published kPublished[] = {
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

constexpr TypedProperty kTypes[] = {
    {"AuthScheme", "CorvaneWS::Package::TwskAuthSchemes_"},
    {"FirewallType", "CorvaneWS::Package::TwskFirewallTypes_"},
    {"FollowRedirects", "CorvaneWS::Package::TwskTFollowRedirects_"},
    {"ProxyAuthScheme", "CorvaneWS::Package::TwskAuthSchemes_"},
    {"ProxySSL", "CorvaneWS::Package::TwskProxySSLTypes_"},
};

constexpr InitDefault kInit[] = {
    {"Authorization", ""},     {"AuthScheme", "authBasic"},  {"DataFormat", "0"},
    {"FirewallAutoDetect", "False"}, {"FirewallType", "fwNone"}, {"FirewallHost", ""},
    {"FirewallPassword", ""},  {"FirewallPort", "0"},        {"FirewallUser", ""},
    {"FollowRedirects", "frNever"}, {"LocalPort", "0"},      {"Password", ""},
    {"ProxyAuthScheme", "authBasic"}, {"ProxyAutoDetect", "False"}, {"ProxyPassword", ""},
    {"ProxyPort", "80"},       {"ProxyServer", ""},          {"ProxySSL", "psAutomatic"},
    {"ProxyUser", ""},         {"SSLCertStore", "MY"},       {"SSLCertStorePassword", ""},
    {"SSLCertStoreType", "0"}, {"SSLCertSubject", ""},       {"Timeout", "60"},
    {"User", ""},
};

}  // namespace

int packagegen::generateClient(const std::string& folder)
{
    const ComponentPolicy policy{"TwskWebSocketClient", "CorvaneWS::Package", "corvanews20_client.h",
                                 "corvanews20::client", "package/wsk_package_types.h", kPackageComponent,
                                 kPublished, kTypes, kInit};
    return generate(policy, corvanews20::client::kTables, folder + "/wskwebsocketclient_pkg");
}
