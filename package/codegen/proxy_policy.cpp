// The package's WebSocket proxy (numbers of corvanews20_proxy.h).
#include "component_codegen.h"
#include "corvanews20_proxy.h"
#include "package_policies.h"

using namespace codegen;

namespace {

constexpr Published kPublished[] = {
    {"DefaultForwardHost", Publish::Stored},   {"DefaultForwardPort", Publish::Stored},
    {"DefaultTimeout", Publish::Stored},       {"FirewallAutoDetect", Publish::Stored},
    {"FirewallType", Publish::Stored},         {"FirewallHost", Publish::Stored},
    {"FirewallPassword", Publish::Stored},     {"FirewallPort", Publish::Stored},
    {"FirewallUser", Publish::Stored},         {"LocalHost", Publish::NeverStored},
    {"LocalPort", Publish::Stored},            {"SSLAuthenticateClients", Publish::Stored},
    {"SSLCertStore", Publish::Stored},         {"SSLCertStorePassword", Publish::Stored},
    {"SSLCertStoreType", Publish::Stored},     {"SSLCertSubject", Publish::Stored},
};

constexpr TypedProperty kTypes[] = {
    {"FirewallType", "CorvaneWS::Package::TwskFirewallTypes_"},
};

constexpr InitDefault kInit[] = {
    {"DefaultForwardHost", ""}, {"DefaultForwardPort", "0"}, {"DefaultTimeout", "0"},
    {"FirewallAutoDetect", "False"}, {"FirewallType", "fwNone"}, {"FirewallHost", ""},
    {"FirewallPassword", ""},   {"FirewallPort", "0"},       {"FirewallUser", ""},
    {"LocalPort", "0"},         {"SSLAuthenticateClients", "False"}, {"SSLCertStore", "MY"},
    {"SSLCertStorePassword", ""}, {"SSLCertStoreType", "0"}, {"SSLCertSubject", ""},
};

}  // namespace

int packagegen::generateProxy(const std::string& folder)
{
    const ComponentPolicy policy{"TwskWebSocketProxy", "CorvaneWS::Package", "corvanews20_proxy.h",
                                 "corvanews20::proxy", "package/wsk_package_types.h", kPackageComponent,
                                 kPublished, kTypes, kInit, {}};
    return generate(policy, corvanews20::proxy::kTables, folder + "/wskwebsocketproxy");
}
