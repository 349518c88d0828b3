// The package's client: the tool's client surface (numbers of
// corvanews20_client.h) with the package's flavour, and FirewallType as an
// enumeration.
#include "client_surface.h"
#include "component_codegen.h"
#include "corvanews20_client.h"
#include "package_policies.h"

using namespace codegen;

namespace {

constexpr TypedProperty kTypes[] = {
    {"AuthScheme", "CorvaneWS::Package::TwskAuthSchemes_"},
    {"FirewallType", "CorvaneWS::Package::TwskFirewallTypes_"},
    {"FollowRedirects", "CorvaneWS::Package::TwskTFollowRedirects_"},
    {"ProxyAuthScheme", "CorvaneWS::Package::ProxyScheme::TwskAuthSchemes_"},
    {"ProxySSL", "CorvaneWS::Package::TwskProxySSLTypes_"},
};

constexpr auto kInit = clientInitDefaults("fwNone");

}  // namespace

int packagegen::generateClient(const std::string& folder)
{
    const ComponentPolicy policy{"TwskWebSocketClient", "CorvaneWS::Package", "corvanews20_client.h",
                                 "corvanews20::client", "package/wsk_package_types.h", kPackageComponent,
                                 kClientPublished, kTypes, kInit, {}};
    return generate(policy, corvanews20::client::kTables, folder + "/wskwebsocketclient_pkg");
}
